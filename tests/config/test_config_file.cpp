// "Open" and "Save" on real files: exactly 14 bytes, refusals, message boxes and their owners.
#include "tests/config/config_file_fixture.h"

namespace {

const char kCreateFailed[] = "Failed to create/open config file";

TEST_F(ConfigFile, FreshPageSavesTheDefaultBytes)
{
    const std::string path = PathOf("fresh.klp");
    Save(path);
    EXPECT_EQ(Contents(path), Wire({0x01, 0x00, 0x04, 0x01, 0x64, 0x1E, 0x05, 0x01, 0x02, 0x05,
                                    0x32, 0x0C, 0x12, 0x06}));
    EXPECT_TRUE(fake::TakeMessages().empty());
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Set to defaults.") << "a save shows nothing";
    const std::vector<fake::BrowseCall> calls = fake::TakeBrowseCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].mode, CConfigDlg::kBrowseSave);
    EXPECT_EQ(calls[0].owner, Handle());
}

TEST_F(ConfigFile, SaveStoresClampedValuesButLeavesTheBoxesAlone)
{
    const std::string path = PathOf("clamped.klp");
    Type(IDC_CFG_POLL_TIME, "1234");
    Type(IDC_CFG_PREAMBLE, "2000");
    Save(path);
    const Wire saved = Contents(path);
    ASSERT_EQ(saved.size(), 14u);
    EXPECT_EQ(saved[4], 123);
    EXPECT_EQ(saved[12], 255);
    EXPECT_EQ(Text(IDC_CFG_POLL_TIME), "1234");
}

// Saving onto what a folder already holds: what the user is told, what the file then holds,
// and that nothing else in the folder changes and nothing is left behind.
TEST_F(ConfigFile, SaveOntoWhatTheFolderHolds)
{
    std::vector<SaveCase> cases = {
        {"a new file", [](const fs::path &f) { return SaveCase::Target{f / "new.klp", {}}; }, ""},
        {"a longer file",
         [](const fs::path &f) {
             Put(f / "old.klp", Wire(100, 0xAA));
             return SaveCase::Target{f / "old.klp", {}};
         },
         ""},
        {"a file with an unrelated NAME.tmp beside it",
         [](const fs::path &f) {
             Put(f / "unit.klp", Wire(14, 0x11));
             Put(f / "unit.klp.tmp", Wire(3, 0x22));
             return SaveCase::Target{f / "unit.klp", {}};
         },
         ""},
        {"a read-only file",
         [](const fs::path &f) {
             Put(f / "locked.klp", Wire(14, 0x33));
             MakeReadOnly(f / "locked.klp");
             return SaveCase::Target{f / "locked.klp", {}};
         },
         kCreateFailed},
        {"a folder that does not exist",
         [](const fs::path &f) { return SaveCase::Target{f / "no-such-dir" / "x.klp", {}}; },
         kCreateFailed},
    };
    for (const SaveCase &c : PlatformSaveCases())
        cases.push_back(c);

    Type(IDC_CFG_SLAVE_ID, "42");
    Wire record(kDefaultBytes.begin(), kDefaultBytes.end());
    record[3] = 42;
    int n = 0;
    for (const SaveCase &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder);
        const SaveCase::Target target = c.arrange(folder);
        const fs::path written = target.written.empty() ? target.chosen : target.written;
        FolderState expected = StateOf(folder);
        const std::function<void()> save = [&] { Save(target.chosen.string()); };
        if (c.around)
            c.around(save);
        else
            save();

        const std::vector<fake::Message> boxes = fake::TakeMessages();
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(Contents(written), record);
            expected[written.lexically_relative(folder).generic_string()] = std::string(record.begin(), record.end());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.message);
            EXPECT_EQ(boxes[0].owner, Handle());
            EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kError);
        }
        EXPECT_EQ(StateOf(folder), expected);
        EXPECT_EQ(Record()[3], 42) << "the record already holds the page";
        if (c.check)
            c.check(written);
    }
}

TEST_F(ConfigFile, CancelledDialogsDoNothing)
{
    Type(IDC_CFG_SLAVE_ID, "42");
    fake::ScriptBrowse("");
    Command(IDC_CFG_SAVE);
    Command(IDC_CFG_OPEN);  // nothing scripted: cancelled too
    EXPECT_EQ(Record(), kDefaultBytes);
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "42");
    EXPECT_TRUE(fake::TakeMessages().empty());
    const std::vector<fake::BrowseCall> calls = fake::TakeBrowseCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].mode, CConfigDlg::kBrowseOpen);
}

TEST_F(ConfigFile, OpenShowsTheBytesUnchanged)
{
    const std::string path = PathOf("unit.klp");
    const Wire bytes = {0x80, 0x01, 7, 0, 5, 0, 0, 99, 0x80, 0, 1, 9, 255, 1};
    Put(path, bytes);
    dlg::ComboSetSel(Handle(), IDC_CFG_DIRECT_BAUD, 4);  // "4800/1200"
    Open(path);
    const RecordBytes loaded = Record();
    EXPECT_EQ(Wire(loaded.begin(), loaded.end()), bytes);
    EXPECT_EQ(Text(IDC_CFG_GENISYS_BAUD), "");
    EXPECT_EQ(Text(IDC_CFG_S2_ID1), "99");
    EXPECT_EQ(Text(IDC_CFG_DIRECT_BAUD), "4800/1200") << "code 9 keeps the item shown";
    EXPECT_EQ(Text(IDC_CFG_PREAMBLE), "1700");
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Set to defaults.") << "opening shows no status";
    EXPECT_TRUE(fake::TakeMessages().empty());

    // Saved again, every byte is brought into range.
    const std::string again = PathOf("again.klp");
    Save(again);
    EXPECT_EQ(Contents(again), Wire({0x80, 0x01, 1, 1, 10, 1, 3, 63, 0x40, 3, 2, 11, 255, 1}));
}

TEST_F(ConfigFile, SavedThenOpenedRoundTrips)
{
    Type(IDC_CFG_S2_ID2, "5");
    page.At(IDC_CFG_S2_ID2_ON).checked = false;
    const std::string path = PathOf("id2.klp");
    Save(path);
    Command(IDC_CFG_DEFAULT);
    Open(path);
    EXPECT_EQ(Record()[8], 0x45);
    EXPECT_EQ(Text(IDC_CFG_S2_ID2), "5");
    EXPECT_FALSE(page.At(IDC_CFG_S2_ID2).enabled);
    EXPECT_FALSE(page.At(IDC_CFG_S2_ID2_ON).checked);
}

TEST_F(ConfigFile, OpenRefusesFilesOfAnyOtherSize)
{
    for (size_t size : {0u, 1u, 13u, 15u, 28u}) {
        SCOPED_TRACE(size);
        const std::string path = PathOf("size" + std::to_string(size) + ".klp");
        Put(path, Wire(size, 0x07));
        Type(IDC_CFG_SLAVE_ID, "42");
        Open(path);
        const std::vector<fake::Message> boxes = fake::TakeMessages();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Config file is wrong size");
        EXPECT_EQ(boxes[0].owner, nullptr);
        EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kError);
        EXPECT_EQ(Record(), kDefaultBytes);
        EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "42") << "the page keeps what it showed";
    }
}

TEST_F(ConfigFile, OpenOfAMissingFileIsRefused)
{
    Open(PathOf("missing.klp"));
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Could not open config file");
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(Record(), kDefaultBytes);
}

}  // namespace
