// `klp show`, `klp diff` and `klp set`: .klp files read and written as the program's Open and
// Save do, and edited with the configuration page's ranges and conversions.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <nlohmann/json.hpp>

#include "config/record_file.h"
#include "klp/commands.h"
#include "klp/output.h"
#include "klp/record_text.h"

namespace klp {

namespace {

// Every field's name, for a message about a name that is none of them.
std::string FieldNames()
{
    std::string names;
    for (const config::Field &f : config::kFields)
        names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
}

// One FIELD=VALUE into the record; kExitOk, or kExitUsage once the reason was said.
int Assign(const std::string &assignment, ConfigRecord *record)
{
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0)
        return Fail(kExitUsage, "'%s' is not FIELD=VALUE.", assignment.c_str());
    const std::string name = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const config::Field *f = config::FindField(name.c_str());
    if (f == nullptr)
        return Fail(kExitUsage, "there is no field '%s'; the fields are %s.", name.c_str(),
                    FieldNames().c_str());
    const Parsed parsed = ParseValue(*f, value);
    if (!parsed.ok)
        return Fail(kExitUsage, "%s.", parsed.error.c_str());
    config::SetFieldValue(*f, *record, parsed.value);
    // A number off the field's step is stored the page's way; say what it became.
    const bool number =
        f->kind == config::FieldKind::kNumber || f->kind == config::FieldKind::kVfTime;
    if (number && config::ShownNumber(*f, parsed.value) != std::stoul(value))
        Note("%s=%s is stored as %s, as the configuration page would store it.", name.c_str(),
             value.c_str(), ValueText(*f, *record).c_str());
    return kExitOk;
}

}  // namespace

int LoadRecordFile(const std::string &path, ConfigRecord *record)
{
    const files::ReadResult result = config::LoadRecordFile(path.c_str(), record);
    if (const char *text = config::LoadFailureText(result))
        return Fail(kExitFile, "%s: %s%s", text, path.c_str(),
                    result == files::ReadResult::kWrongSize ? " (a .klp file holds exactly 14 bytes)."
                                                     : ".");
    return kExitOk;
}

int SaveRecordFile(const std::string &path, const ConfigRecord &record)
{
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored))
        return Fail(kExitFile, "%s: %s (it is a folder; give a file's name).",
                    config::SaveFailureText(files::WriteResult::kCreateFailed), path.c_str());
    bool inPlace = false;
    const files::WriteResult result = config::SaveRecordFile(path.c_str(), record, &inPlace);
    if (const char *text = config::SaveFailureText(result))
        return Fail(kExitFile, "%s: %s (%s).", text, path.c_str(),
                    inPlace ? "it was written in place, as nothing could be made beside it; it "
                              "may hold part of the record"
                            : "any file there is left as it was");
    return kExitOk;
}

int RunShow(const FileOptions &o)
{
    ConfigRecord record;
    if (const int code = LoadRecordFile(o.file, &record))
        return code;
    if (o.json) {
        PrintJson({{"file", o.file}, {"record", RecordJson(record)}});
        return kExitOk;
    }
    PrintRecord(stdout, record);
    return kExitOk;
}

int RunDiff(const FileOptions &o)
{
    ConfigRecord a, b;
    if (const int code = LoadRecordFile(o.files[0], &a))
        return code;
    if (const int code = LoadRecordFile(o.files[1], &b))
        return code;
    const std::vector<Difference> differences = Differences(a, b);
    if (o.json)
        PrintJson({{"a", o.files[0]},
                   {"b", o.files[1]},
                   {"differences", DifferencesJson(differences, "a", "b")}});
    else if (!differences.empty())
        PrintDifferences(differences, o.files[0], o.files[1]);
    return differences.empty() ? kExitOk : kExitDiffer;
}

int RunSet(const FileOptions &o)
{
    const std::string &path = o.file;
    ConfigRecord record = config::DefaultRecord();
    if (!o.defaults)
        if (const int code = LoadRecordFile(path, &record))
            return code;
    // Every assignment is checked before the file is touched.
    for (const std::string &assignment : o.assignments)
        if (const int code = Assign(assignment, &record))
            return code;
    return SaveRecordFile(path, record);
}

}  // namespace klp
