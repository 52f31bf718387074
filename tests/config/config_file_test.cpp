// "Open" and "Save" on real files: exactly 14 bytes, refusals, message boxes and their owners.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "tests/config/config_fixture.h"

namespace {

namespace fs = std::filesystem;

class ConfigFile : public ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        std::random_device rd;
        dir = fs::temp_directory_path() / ("klp-config-test-" + std::to_string(rd()));
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
        ConfigTest::TearDown();
    }

    std::string PathOf(const std::string &name) { return (dir / name).string(); }

    static Wire Contents(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        return Wire(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Put(const std::string &path, const Wire &bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    void Save(const std::string &path)
    {
        fake::ScriptBrowse(path);
        Command(IDC_CFG_SAVE);
    }
    void Open(const std::string &path)
    {
        fake::ScriptBrowse(path);
        Command(IDC_CFG_OPEN);
    }

    fs::path dir;
};

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
    EXPECT_EQ(calls[0].mode, CConfigDlg::BROWSE_SAVE);
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

TEST_F(ConfigFile, SaveReplacesALongerFileWithExactly14Bytes)
{
    const std::string path = PathOf("old.klp");
    Put(path, Wire(100, 0xAA));
    Save(path);
    EXPECT_EQ(Contents(path), Wire(kDefaultBytes.begin(), kDefaultBytes.end()));
}

TEST_F(ConfigFile, SaveThatCannotCreateTellsThePageAndKeepsTheRecord)
{
    Type(IDC_CFG_SLAVE_ID, "42");
    Save(PathOf("no-such-dir/x.klp"));
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Failed to create/open config file");
    EXPECT_EQ(boxes[0].owner, Handle());
    EXPECT_EQ(boxes[0].icon, sys::ICON_ERROR);
    EXPECT_EQ(Record()[3], 42) << "the record already holds the page";
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
    EXPECT_EQ(calls[1].mode, CConfigDlg::BROWSE_OPEN);
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
        EXPECT_EQ(boxes[0].icon, sys::ICON_ERROR);
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
