// Every field of the 14-byte record in one table: a short stable name, the page's group, label
// and unit, the byte and bits it lives in, how the page converts it, and the range the page
// stores. The configuration page, the fuzzer and the command-line tool all read this table.
#pragma once
#include <cstddef>
#include <cstdint>

#include "config/config_record.h"

namespace config {

// In the order the page shows them, group by group.
enum FieldId : uint8_t {
    kFieldSlaveId,
    kFieldBaud,
    kFieldTimeout,
    kFieldPollTime,
    kFieldRecallTime,
    kFieldSecurePolls,
    kFieldProtocol,
    kFieldS2Id1,
    kFieldS2Id2On,
    kFieldS2Id2,
    kFieldS2Timeout,
    kFieldIsd,
    kFieldNoCtrlByte,
    kFieldNrzi,
    kFieldSend32Bits,
    kFieldKeepSending,
    kFieldDirectBaud,
    kFieldSyncClock,
    kFieldV22TxHigh,
    kFieldRxEqualise,
    kFieldPreamble,
    kFieldPostamble,
    kFieldCount
};

// How the page shows a field and takes it back.
enum class FieldKind : uint8_t {
    kNumber,    // an edit box showing the value times the scale; a typed number is divided by it
    kVfTime,    // an edit box in ms of the VF unit (6.666666 ms), rounded to the nearest
    kCheck,     // a check box, ticked when the value is 1
    kCheckOff,  // a check box ticked when the value is 0 ("ID 2": its bit says "not polled")
    kList,      // a drop-down list whose items name the values
};

struct ListItem {
    uint8_t value;
    const char *text;
};

struct Field {
    FieldId id;
    const char *name;   // for the command line: short, lower case, never changed
    const char *group;  // the page's group box
    const char *label;  // the page's label
    const char *unit;   // the page's unit after the box ("mS", "Sec"), or ""
    uint8_t byte;       // record byte
    uint8_t mask;       // the bits of that byte the field holds
    FieldKind kind;
    uint8_t scale;      // kNumber: the box shows value x scale
    uint8_t low, high;  // the range the page stores, of the value in its bits
    const ListItem *items;  // kList: the page's items, in list order
    uint8_t itemCount;
};

extern const Field kFields[kFieldCount];

const Field &GetField(FieldId id);
// The field of that name; null when there is none.
const Field *FindField(const char *name);

// The value held in the field's bits, and the record with a value put there (other bits kept).
unsigned FieldValue(const Field &f, const ConfigRecord &r);
void SetFieldValue(const Field &f, ConfigRecord &r, unsigned value);

bool InStoredRange(const Field &f, unsigned long value);
// The page's clamp: a value below the range gives its low end, one above its high end.
uint8_t ClampToRange(const Field &f, unsigned long value);

// Edit boxes: the number shown for a value, and the value a typed number gives before the clamp
// (divided by the scale, the remainder dropped; VF times to the nearest unit).
unsigned long ShownNumber(const Field &f, unsigned value);
unsigned long TypedToValue(const Field &f, unsigned long typed);

// Lists: the index of the item naming the value, -1 when none does; the value of an item
// index (0 for no selection, which the clamp then brings into range).
int ItemIndex(const Field &f, unsigned value);
unsigned ItemValue(const Field &f, int index);
// The item the page shows for a value, -1 when none. The direct baud list is matched by the
// rate text (DirectBaudItem), so it shows an item for every code but 0, 1, 8 and 9.
int ShownItem(const Field &f, unsigned value);
// What a list value no item shows reads as: the direct rate a code names ("115200"); null for
// the other lists, whose page then shows no selection.
const char *UnlistedText(const Field &f, unsigned value);

// The record as the page would write it for the same fields: every field's bits as they are,
// the bits no field holds (byte 1's upper bits, where a unit reports its DIP switches) 0.
ConfigRecord PageBits(const ConfigRecord &r);

// Check boxes.
bool IsTicked(const Field &f, unsigned value);
unsigned TickedValue(const Field &f, bool ticked);

}  // namespace config
