// The record's fields as the configuration page shows them: values with the page's units,
// named rates, check boxes and lists; a value typed for `klp set`, checked against the
// page's range; the fields in which two records differ. Built on config/config_fields.h.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "config/config_fields.h"
#include "config/read_response.h"

namespace klp {

// The value as the page shows it ("1000 mS", "[x]", "9600", "2400/2400"), followed by a
// remark when the record holds something the page would not store.
std::string ValueText(const config::Field &f, const ConfigRecord &r);
// The value for --json: a number in the page's unit, true/false, or the list's text; null
// when the list has no item for it.
nlohmann::ordered_json ValueJson(const config::Field &f, const ConfigRecord &r);
// True when the page would store the field as the record holds it.
bool InPageRange(const config::Field &f, const ConfigRecord &r);

// Every field, group by group, with its name for `klp set`; then any bits the page never
// uses that are set.
void PrintRecord(std::FILE *out, const ConfigRecord &r);
// The record for --json: the fields by name, the raw bytes in hexadecimal, and the names of
// the fields outside the page's ranges.
nlohmann::ordered_json RecordJson(const ConfigRecord &r);

// The fields `klp set` takes, a line each: the name and what the page takes.
std::string FieldTable();

// What the page lists for a field: "1 to 255", "100 to 2550 mS", "on or off",
// "one of 1200, 2400, 4800, 9600, 19200".
std::string RangeText(const config::Field &f);

// A value typed for a field, taken the page's way. On success the value in the field's
// bits; the number the page would then show again differs from a typed number that is not
// on the field's step (poll_time_ms=1234 is stored as 1230). On failure a sentence saying
// what the field takes.
struct Parsed {
    bool ok = false;
    unsigned value = 0;
    std::string error;
};
Parsed ParseValue(const config::Field &f, const std::string &text);

struct Difference {
    std::string field;  // a field's name, or "byte N" for bits no field holds
    std::string a, b;   // the two values as shown
    nlohmann::ordered_json aJson, bJson;
};
std::vector<Difference> Differences(const ConfigRecord &a, const ConfigRecord &b);
// The differences as a table under the two columns' titles, and for --json as a list with
// each field's two values under the two keys.
void PrintDifferences(const std::vector<Difference> &differences, const std::string &titleA,
                      const std::string &titleB);
nlohmann::ordered_json DifferencesJson(const std::vector<Difference> &differences,
                                       const char *keyA, const char *keyB);

// The unit's firmware version ("2.5") and its DIP switch text, as the page shows them after a read.
std::string FirmwareText(const config::ReadResponse &r);
std::string DipSwitchText(const config::ReadResponse &r);

// Several answers at one address: "twice" or "3 times", and "firmware v1.0 slave ID 3,
// firmware v2.0 slave ID 3"; for --json each answer's firmware, mode, switches and slave ID.
std::string TimesText(size_t n);
std::string AnswersText(const std::vector<config::ReadResponse> &responses);
nlohmann::ordered_json ResponseJson(const config::ReadResponse &r);

// Bits set in the record that no field holds (byte 1's upper bits): 0 when there are none.
uint8_t UnusedBits(size_t byte, const ConfigRecord &r);

}  // namespace klp
