// File failures past the open: a read that comes up short and a write that stops part-way.
#include "tests/config/config_fixture.h"
#include "tests/config/scripted_files.h"

namespace {

class ConfigFileErrors : public ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        scripted::readResult = files::READ_OK;
        scripted::writeResult = files::WRITE_OK;
        scripted::fileBytes.clear();
        scripted::paths.clear();
    }
};

TEST_F(ConfigFileErrors, ShortReadChangesNothingAndIsReported)
{
    scripted::readResult = files::READ_FAILED;
    scripted::fileBytes.assign(14, 0x33);
    Type(IDC_CFG_SLAVE_ID, "42");
    fake::ScriptBrowse("/x/unit.klp");
    Command(IDC_CFG_OPEN);
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Could not read config file");
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].icon, sys::ICON_ERROR);
    EXPECT_EQ(Record(), kDefaultBytes);
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "42");
    EXPECT_EQ(scripted::paths, std::vector<std::string>{"/x/unit.klp"});
}

TEST_F(ConfigFileErrors, PartialWriteIsReportedToThePage)
{
    scripted::writeResult = files::WRITE_FAILED;
    fake::ScriptBrowse("/x/out.klp");
    Command(IDC_CFG_SAVE);
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Failed to write config file");
    EXPECT_EQ(boxes[0].owner, Handle());
    EXPECT_EQ(boxes[0].icon, sys::ICON_ERROR);
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
