// The record's fields as the configuration page shows them, typed values for `klp set`, and
// the differences between two records.
#include "klp/record_text.h"

#include <cctype>
#include <cstring>

namespace klp {

namespace {

using config::Field;
using config::FieldKind;

bool IsBox(const Field &f) { return f.kind == FieldKind::kNumber || f.kind == FieldKind::kVfTime; }
bool IsCheck(const Field &f)
{
    return f.kind == FieldKind::kCheck || f.kind == FieldKind::kCheckOff;
}

std::string WithUnit(unsigned long number, const Field &f)
{
    std::string text = std::to_string(number);
    if (*f.unit != '\0')
        text += std::string(" ") + f.unit;
    return text;
}

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool AllDigits(const std::string &text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// The text of a list value: the item the page shows for it, else what the value reads as
// without one (a direct rate off the list, "115200"); null when it reads as nothing.
const char *ListText(const Field &f, unsigned value)
{
    const int index = config::ShownItem(f, value);
    return index >= 0 ? f.items[index].text : config::UnlistedText(f, value);
}

// An item given by its text or by the number it starts with ("2400" for "2400/2400").
int FindItem(const Field &f, const std::string &text)
{
    for (int i = 0; i < f.itemCount; ++i) {
        const std::string item = f.items[i].text;
        if (Lower(item) == Lower(text))
            return i;
        if (AllDigits(text) && item.compare(0, text.size(), text) == 0 &&
            (item.size() == text.size() || item[text.size()] == '/'))
            return i;
    }
    return -1;
}

struct CheckWord {
    const char *word;
    bool ticked;
};
const CheckWord kCheckWords[] = {
    {"on", true},   {"yes", true}, {"true", true},   {"1", true},  {"x", true},
    {"off", false}, {"no", false}, {"false", false}, {"0", false},
};

// Bits of a byte that no field holds.
uint8_t UnusedMask(size_t byte)
{
    uint8_t used = 0;
    for (const Field &f : config::kFields)
        if (f.byte == byte)
            used |= f.mask;
    return static_cast<uint8_t>(~used);
}

std::string Hex(uint8_t b)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

// When the page would not store the value as the record holds it: the byte and the range.
std::string Remark(const Field &f, const ConfigRecord &r)
{
    if (InPageRange(f, r))
        return "";
    return "byte " + std::to_string(f.byte) + " = " + std::to_string(r.Bytes()[f.byte]) +
           ": the page stores " + RangeText(f);
}

std::string ShownWithRemark(const Field &f, const ConfigRecord &r)
{
    const std::string remark = Remark(f, r);
    return ValueText(f, r) + (remark.empty() ? "" : "  (" + remark + ")");
}

}  // namespace

bool InPageRange(const Field &f, const ConfigRecord &r)
{
    return config::InStoredRange(f, config::FieldValue(f, r));
}

std::string ValueText(const Field &f, const ConfigRecord &r)
{
    const unsigned value = config::FieldValue(f, r);
    if (IsBox(f))
        return WithUnit(config::ShownNumber(f, value), f);
    if (IsCheck(f))
        return config::IsTicked(f, value) ? "[x]" : "[ ]";
    const char *text = ListText(f, value);
    return text ? text : "none";
}

nlohmann::ordered_json ValueJson(const Field &f, const ConfigRecord &r)
{
    const unsigned value = config::FieldValue(f, r);
    if (IsBox(f))
        return config::ShownNumber(f, value);
    if (IsCheck(f))
        return config::IsTicked(f, value);
    const char *text = ListText(f, value);
    if (text)
        return text;
    return nullptr;
}

std::string RangeText(const Field &f)
{
    if (IsCheck(f))
        return "on or off";
    if (f.kind == FieldKind::kList) {
        std::string text = "one of ";
        for (int i = 0; i < f.itemCount; ++i)
            text += (i ? ", " : "") + std::string(f.items[i].text);
        return text;
    }
    std::string text = std::to_string(config::ShownNumber(f, f.low)) + " to " +
                       WithUnit(config::ShownNumber(f, f.high), f);
    if (f.kind == FieldKind::kNumber && f.scale > 1)
        text += ", in steps of " + std::to_string(f.scale);
    return text;
}

void PrintRecord(std::FILE *out, const ConfigRecord &r)
{
    const char *group = "";
    for (const Field &f : config::kFields) {
        if (std::strcmp(group, f.group) != 0) {
            group = f.group;
            std::fprintf(out, "%s%s\n", f.id == 0 ? "" : "\n", group);
        }
        const std::string remark = Remark(f, r);
        std::fprintf(out, "  %-37s %-12s %s%s%s\n", f.label, ValueText(f, r).c_str(), f.name,
                     remark.empty() ? "" : "  ", remark.c_str());
    }
    for (size_t byte = 0; byte < ConfigRecord::kSize; ++byte)
        if (uint8_t bits = UnusedBits(byte, r))
            std::fprintf(out, "\nByte %u holds %s: bits %s are set, which the page never uses\n",
                         static_cast<unsigned>(byte), Hex(r.Bytes()[byte]).c_str(),
                         Hex(bits).c_str());
}

nlohmann::ordered_json RecordJson(const ConfigRecord &r)
{
    nlohmann::ordered_json record = nlohmann::ordered_json::object();
    nlohmann::ordered_json outside = nlohmann::ordered_json::array();
    for (const Field &f : config::kFields) {
        record[f.name] = ValueJson(f, r);
        if (!InPageRange(f, r))
            outside.push_back(f.name);
    }
    std::string bytes;
    for (size_t i = 0; i < ConfigRecord::kSize; ++i)
        bytes += Hex(r.Bytes()[i]).substr(2);
    record["bytes"] = bytes;
    record["outside_page_ranges"] = outside;
    return record;
}

Parsed ParseValue(const Field &f, const std::string &text)
{
    Parsed p;
    const std::string takes =
        std::string(f.name) + " takes " + RangeText(f) + ", not '" + text + "'";
    if (IsCheck(f)) {
        for (const CheckWord &w : kCheckWords) {
            if (Lower(text) == w.word) {
                p.ok = true;
                p.value = config::TickedValue(f, w.ticked);
                return p;
            }
        }
    } else if (f.kind == FieldKind::kList) {
        const int index = FindItem(f, text);
        if (index >= 0) {
            p.ok = true;
            p.value = f.items[index].value;
            return p;
        }
    } else if (AllDigits(text) && text.size() <= 9) {
        // The range is the page's in its own units; out of it is refused, never clamped.
        const unsigned long typed = std::stoul(text);
        if (typed >= config::ShownNumber(f, f.low) && typed <= config::ShownNumber(f, f.high)) {
            p.ok = true;
            p.value = static_cast<unsigned>(config::TypedToValue(f, typed));
            return p;
        }
    }
    p.error = takes;
    return p;
}

std::vector<Difference> Differences(const ConfigRecord &a, const ConfigRecord &b)
{
    std::vector<Difference> out;
    for (const Field &f : config::kFields)
        if (config::FieldValue(f, a) != config::FieldValue(f, b))
            out.push_back({f.name, ShownWithRemark(f, a), ShownWithRemark(f, b), ValueJson(f, a),
                           ValueJson(f, b)});
    for (size_t byte = 0; byte < ConfigRecord::kSize; ++byte) {
        if (UnusedBits(byte, a) == UnusedBits(byte, b))
            continue;
        const std::string name = "byte " + std::to_string(byte);
        out.push_back({name, Hex(a.Bytes()[byte]), Hex(b.Bytes()[byte]), Hex(a.Bytes()[byte]),
                       Hex(b.Bytes()[byte])});
    }
    return out;
}

void PrintDifferences(const std::vector<Difference> &differences, const std::string &titleA,
                      const std::string &titleB)
{
    std::printf("%-17s %-24s %s\n", "Field", titleA.c_str(), titleB.c_str());
    for (const Difference &d : differences)
        std::printf("%-17s %-24s %s\n", d.field.c_str(), d.a.c_str(), d.b.c_str());
}

nlohmann::ordered_json DifferencesJson(const std::vector<Difference> &differences,
                                       const char *keyA, const char *keyB)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Difference &d : differences)
        list.push_back({{"field", d.field}, {keyA, d.aJson}, {keyB, d.bJson}});
    return list;
}

std::string FirmwareText(const config::ReadResponse &r)
{
    return std::to_string(r.firmwareMajor) + "." + std::to_string(r.firmwareMinor);
}

std::string FieldTable()
{
    std::string out;
    for (const Field &f : config::kFields) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-18s %s\n", f.name, RangeText(f).c_str());
        out += line;
    }
    return out;
}

std::string TimesText(size_t n) { return n == 2 ? "twice" : std::to_string(n) + " times"; }

std::string AnswersText(const std::vector<config::ReadResponse> &responses)
{
    std::string text;
    for (const config::ReadResponse &r : responses)
        text += (text.empty() ? "firmware v" : ", firmware v") + FirmwareText(r) + " slave ID " +
                std::to_string(r.record.genisysSlaveId);
    return text;
}

nlohmann::ordered_json ResponseJson(const config::ReadResponse &r)
{
    return {{"firmware", FirmwareText(r)},
            {"mode", r.mode},
            {"dip_switch", DipSwitchText(r)},
            {"slave_id", r.record.genisysSlaveId}};
}

std::string DipSwitchText(const config::ReadResponse &r)
{
    char text[128];
    config::DipSwitchText(r, text, sizeof text);
    return text;
}

uint8_t UnusedBits(size_t byte, const ConfigRecord &r)
{
    return static_cast<uint8_t>(r.Bytes()[byte] & UnusedMask(byte));
}

}  // namespace klp
