// File failures past the open: a read that comes up short, a write that stops part-way, and
// a file that can only be written in place.
#include "tests/config/config_fixture.h"
#include "tests/config/scripted_files.h"

namespace {

class ConfigFileErrors : public ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        scripted::readResult = files::ReadResult::kOk;
        scripted::writeResult = files::WriteResult::kOk;
        scripted::overwriteResult = files::WriteResult::kOk;
        scripted::fileBytes.clear();
        scripted::paths.clear();
        scripted::writes.clear();
    }
};

TEST_F(ConfigFileErrors, ShortReadChangesNothingAndIsReported)
{
    scripted::readResult = files::ReadResult::kFailed;
    scripted::fileBytes.assign(14, 0x33);
    Type(IDC_CFG_SLAVE_ID, "42");
    fake::ScriptBrowse("/x/unit.klp");
    Command(IDC_CFG_OPEN);
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Could not read config file");
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kError);
    EXPECT_EQ(Record(), kDefaultBytes);
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "42");
    EXPECT_EQ(scripted::paths, std::vector<std::string>{"/x/unit.klp"});
}

// A save replaces the file; only a file that cannot be replaced is written over in place,
// and the box tells what the last write gave.
TEST_F(ConfigFileErrors, SaveReportsWhatTheWritesGave)
{
    using files::WriteResult;
    const std::vector<std::string> replace = {"replace"};
    const std::vector<std::string> both = {"replace", "overwrite"};
    const std::string createFailed = "Failed to create/open config file";
    const std::string writeFailed = "Failed to write config file";
    struct Case {
        files::WriteResult replaced, overwritten;
        std::vector<std::string> writes;
        std::string message;  // "" for none
    };
    const Case cases[] = {
        {WriteResult::kOk, WriteResult::kFailed, replace, ""},
        {WriteResult::kFailed, WriteResult::kOk, replace, writeFailed},
        {WriteResult::kCreateFailed, WriteResult::kOk, replace, createFailed},
        {WriteResult::kOnlyInPlace, WriteResult::kOk, both, ""},
        {WriteResult::kOnlyInPlace, WriteResult::kFailed, both, writeFailed},
        {WriteResult::kOnlyInPlace, WriteResult::kCreateFailed, both, createFailed},
        {WriteResult::kOnlyInPlace, WriteResult::kOnlyInPlace, both, createFailed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.replaced) << " then "
                                       << static_cast<int>(c.overwritten));
        scripted::writeResult = c.replaced;
        scripted::overwriteResult = c.overwritten;
        scripted::writes.clear();
        scripted::paths.clear();
        scripted::fileBytes.clear();
        fake::ScriptBrowse("/x/out.klp");
        Command(IDC_CFG_SAVE);
        EXPECT_EQ(scripted::writes, c.writes);
        EXPECT_EQ(scripted::paths, std::vector<std::string>(c.writes.size(), "/x/out.klp"));
        const std::vector<fake::Message> boxes = fake::TakeMessages();
        if (c.message.empty()) {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(scripted::fileBytes, std::vector<unsigned char>(kDefaultBytes.begin(), kDefaultBytes.end()));
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.message);
        EXPECT_EQ(boxes[0].owner, Handle());
        EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kError);
    }
}

TEST_F(ConfigFileErrors, LongPathsAreCutToTheBuffer)
{
    const std::string longPath(400, 'p');
    fake::ScriptBrowse(longPath);
    Command(IDC_CFG_SAVE);
    ASSERT_EQ(scripted::paths.size(), 1u);
    EXPECT_EQ(scripted::paths[0], longPath.substr(0, CConfigDlg::kPathSize - 1));
    EXPECT_EQ(scripted::fileBytes, std::vector<unsigned char>(kDefaultBytes.begin(), kDefaultBytes.end()));
}

}  // namespace
