// The record's fields: the one table of names, labels, places, conversions and stored ranges,
// and the byte ranges derived from it.
#include "config/config_fields.h"

#include <array>
#include <cstring>

namespace config {

namespace {

constexpr ListItem kGenisysBauds[] = {
    {1, "1200"}, {2, "2400"}, {3, "4800"}, {4, "9600"}, {5, "19200"},
};
constexpr ListItem kProtocols[] = {{0, "US&S"}, {1, "GE/Harmon"}};
// The direct baud list: the rate table's rows that have an item, in its order (300 to 9600).
constexpr size_t ListedRates()
{
    size_t n = 0;
    for (const DirectRate &d : kDirectRates)
        n += d.item != nullptr;
    return n;
}
constexpr std::array<ListItem, ListedRates()> DirectBaudItems()
{
    std::array<ListItem, ListedRates()> items{};
    size_t i = 0;
    for (const DirectRate &d : kDirectRates)
        if (d.item)
            items[i++] = ListItem{d.code, d.item};
    return items;
}
constexpr std::array<ListItem, ListedRates()> kDirectBauds = DirectBaudItems();

template <size_t N>
constexpr uint8_t Count(const ListItem (&)[N])
{
    return static_cast<uint8_t>(N);
}

const char kGenisys[] = "Genisys Protocol";
const char kS2[] = "S2 Protocol";
const char kDirect[] = "Direct (Async/Sync)";
const char kVf[] = "VF (V.22/V.23)";

using K = FieldKind;

}  // namespace

constexpr Field kFields[kFieldCount] = {
    {kFieldSlaveId, "slave_id", kGenisys, "Slave ID", "", 3, 0xFF, K::kNumber, 1, 1, 255, nullptr, 0},
    {kFieldBaud, "baud", kGenisys, "Baud rate", "", 2, 0xFF, K::kList, 1, 1, 5, kGenisysBauds,
     Count(kGenisysBauds)},
    {kFieldTimeout, "timeout", kGenisys, "Timeout", "Sec", 6, 0xFF, K::kNumber, 1, 3, 255, nullptr, 0},
    {kFieldPollTime, "poll_time_ms", kGenisys, "Poll time", "mS", 4, 0xFF, K::kNumber, 10, 10, 255,
     nullptr, 0},
    {kFieldRecallTime, "recall_time", kGenisys, "Recall time", "Sec", 5, 0xFF, K::kNumber, 1, 1, 255,
     nullptr, 0},
    {kFieldSecurePolls, "secure_polls", kGenisys, "Use secure polls", "", 1, kSecurePolls, K::kCheck,
     1, 0, 1, nullptr, 0},
    {kFieldProtocol, "protocol", kGenisys, "Protocol implimentation", "", 0, kOptGeHarmon, K::kList,
     1, 0, 1, kProtocols, Count(kProtocols)},
    // The page shows byte 7 whole, also above 63.
    {kFieldS2Id1, "s2_id1", kS2, "ID 1", "", 7, 0xFF, K::kNumber, 1, 0, 63, nullptr, 0},
    // "ID 2" is ticked only while byte 8 is below 64, so bit 7 counts as "not polled" too; the
    // page stores "not polled" as bit 6 alone.
    {kFieldS2Id2On, "s2_id2_on", kS2, "ID 2", "", 8, 0xC0, K::kCheckOff, 1, 0, 1, nullptr, 0},
    {kFieldS2Id2, "s2_id2", kS2, "ID 2 box", "", 8, kS2IdMask, K::kNumber, 1, 0, 63, nullptr, 0},
    {kFieldS2Timeout, "s2_timeout", kS2, "Timeout", "Sec", 9, 0xFF, K::kNumber, 1, 3, 255, nullptr, 0},
    {kFieldIsd, "isd_ms", kS2, "ISD", "mS", 10, 0xFF, K::kNumber, 10, 2, 255, nullptr, 0},
    {kFieldNoCtrlByte, "no_ctrl_byte", kS2, "No CTRL byte", "", 0, kOptNoCtrlByte, K::kCheck, 1,
     0, 1, nullptr, 0},
    {kFieldNrzi, "nrz_i", kS2, "NRZ I", "", 0, kOptNrzi, K::kCheck, 1, 0, 1, nullptr, 0},
    {kFieldSend32Bits, "send_32_bits", kS2, "Send 32 bits", "", 0, kOptSend32Bits, K::kCheck, 1,
     0, 1, nullptr, 0},
    {kFieldKeepSending, "keep_sending", kS2, "Keep sending (zeros) when comms down", "", 0,
     kOptKeepSending, K::kCheck, 1, 0, 1, nullptr, 0},
    {kFieldDirectBaud, "direct_baud", kDirect, "Baud rate", "", 11, 0xFF, K::kList, 1, 10, 15,
     kDirectBauds.data(), static_cast<uint8_t>(kDirectBauds.size())},
    {kFieldSyncClock, "sync_clock_lines", kDirect, "Sync use clock lines", "", 0, kOptSyncClock,
     K::kCheck, 1, 0, 1, nullptr, 0},
    {kFieldV22TxHigh, "v22_tx_high", kVf, "V.22 Tx high/Rx low", "", 0, kOptV22TxHigh, K::kCheck,
     1, 0, 1, nullptr, 0},
    {kFieldRxEqualise, "rx_equalisation", kVf, "Rx audio equalisation", "", 0, kOptRxEqualise,
     K::kCheck, 1, 0, 1, nullptr, 0},
    {kFieldPreamble, "preamble_ms", kVf, "Preamble", "mS", 12, 0xFF, K::kVfTime, 1, 0, 255, nullptr, 0},
    {kFieldPostamble, "postamble_ms", kVf, "Postamble", "mS", 13, 0xFF, K::kVfTime, 1, 0, 255,
     nullptr, 0},
};

namespace {

constexpr int Shift(uint8_t mask)
{
    int shift = 0;
    while (shift < 8 && !((mask >> shift) & 1))
        ++shift;
    return shift;
}

// A byte's range is the sum of the ranges of the fields that share it, each in its own bits;
// bits no field holds are stored as 0.
constexpr ByteRange DeriveRange(size_t byte)
{
    unsigned low = 0, high = 0;
    for (const Field &f : kFields) {
        if (f.byte != byte)
            continue;
        low += static_cast<unsigned>(f.low) << Shift(f.mask);
        high += static_cast<unsigned>(f.high) << Shift(f.mask);
    }
    return ByteRange{static_cast<uint8_t>(low), static_cast<uint8_t>(high)};
}

constexpr bool TableInOrder()
{
    for (size_t i = 0; i < kFieldCount; ++i)
        if (kFields[i].id != i)
            return false;
    return true;
}
static_assert(TableInOrder(), "kFields is indexed by FieldId");

constexpr bool NoBitHeldTwice()
{
    for (size_t i = 0; i < kFieldCount; ++i)
        for (size_t j = i + 1; j < kFieldCount; ++j)
            if (kFields[i].byte == kFields[j].byte && (kFields[i].mask & kFields[j].mask) != 0)
                return false;
    return true;
}
static_assert(NoBitHeldTwice(), "every bit of the record belongs to one field at most");

}  // namespace

const ByteRange kStoredRange[ConfigRecord::kSize] = {
    DeriveRange(0), DeriveRange(1), DeriveRange(2),  DeriveRange(3),  DeriveRange(4),
    DeriveRange(5), DeriveRange(6), DeriveRange(7),  DeriveRange(8),  DeriveRange(9),
    DeriveRange(10), DeriveRange(11), DeriveRange(12), DeriveRange(13),
};

const Field &GetField(FieldId id) { return kFields[id]; }

const Field *FindField(const char *name)
{
    for (const Field &f : kFields)
        if (std::strcmp(f.name, name) == 0)
            return &f;
    return nullptr;
}

unsigned FieldValue(const Field &f, const ConfigRecord &r)
{
    return static_cast<unsigned>(r.Bytes()[f.byte] & f.mask) >> Shift(f.mask);
}

void SetFieldValue(const Field &f, ConfigRecord &r, unsigned value)
{
    uint8_t &b = r.Bytes()[f.byte];
    b = static_cast<uint8_t>((b & ~f.mask) | ((value << Shift(f.mask)) & f.mask));
}

ConfigRecord PageBits(const ConfigRecord &r)
{
    ConfigRecord out = {};
    for (const Field &f : kFields)
        out.Bytes()[f.byte] |= static_cast<uint8_t>(r.Bytes()[f.byte] & f.mask);
    return out;
}

bool InStoredRange(const Field &f, unsigned long value)
{
    return value >= f.low && value <= f.high;
}

uint8_t ClampToRange(const Field &f, unsigned long value)
{
    // The whole number is compared before it is narrowed to its bits.
    if (value < f.low)
        return f.low;
    if (value > f.high)
        return f.high;
    return static_cast<uint8_t>(value);
}

unsigned long ShownNumber(const Field &f, unsigned value)
{
    if (f.kind == FieldKind::kVfTime)
        return static_cast<unsigned long>(value * kVfUnitMs + 0.5);
    return static_cast<unsigned long>(value) * f.scale;
}

unsigned long TypedToValue(const Field &f, unsigned long typed)
{
    if (f.kind != FieldKind::kVfTime)
        return typed / f.scale;
    const double units = typed / kVfUnitMs + 0.5;  // at most about 6.4e8: no overflow in double
    return units >= 255.0 ? 255 : static_cast<unsigned long>(units);
}

int ItemIndex(const Field &f, unsigned value)
{
    for (int i = 0; i < f.itemCount; ++i)
        if (f.items[i].value == value)
            return i;
    return -1;
}

unsigned ItemValue(const Field &f, int index)
{
    return index >= 0 && index < f.itemCount ? f.items[index].value : 0;
}

int ShownItem(const Field &f, unsigned value)
{
    if (f.id == kFieldDirectBaud)
        return DirectBaudItem(static_cast<uint8_t>(value));
    return ItemIndex(f, value);
}

const char *UnlistedText(const Field &f, unsigned value)
{
    if (f.id == kFieldDirectBaud)
        return DirectBaudText(static_cast<uint8_t>(value));
    return nullptr;
}

bool IsTicked(const Field &f, unsigned value)
{
    return f.kind == FieldKind::kCheckOff ? value == 0 : value != 0;
}

unsigned TickedValue(const Field &f, bool ticked)
{
    return f.kind == FieldKind::kCheckOff ? !ticked : ticked;
}

}  // namespace config
