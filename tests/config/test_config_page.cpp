// Page set-up and command dispatch on the in-memory page.
#include "tests/config/config_fixture.h"

namespace {

std::vector<std::string> Items(fake::Page &page, int id) { return page.At(id).items; }

TEST(ConfigPageSetUp, FillsTheListsInOrderAndPostsDefault)
{
    fake::ResetAll();
    fake::Page page;
    fake::AddConfigControls(page);
    theConfig = CConfigDlg();
    EXPECT_EQ(theConfig.OnInitPage(page.handle()), 1);
    EXPECT_EQ(theConfig.m_hwndPage, page.handle());
    EXPECT_EQ(Items(page, IDC_CFG_GENISYS_BAUD),
              (std::vector<std::string>{"1200", "2400", "4800", "9600", "19200"}));
    EXPECT_EQ(Items(page, IDC_CFG_PROTOCOL), (std::vector<std::string>{"US&S", "GE/Harmon"}));
    EXPECT_EQ(Items(page, IDC_CFG_DIRECT_BAUD),
              (std::vector<std::string>{"300/1200", "600/1200", "1200/1200", "2400/2400",
                                        "4800/1200", "9600/1200"}));
    // Posted, not run: nothing is on the page until the command is delivered.
    EXPECT_EQ(page.Text(IDC_CFG_STATUS), "");
    EXPECT_EQ(theConfig.m_record.genisysSlaveId, 0);
    EXPECT_EQ(page.TakePosted(), std::vector<int>{IDC_CFG_DEFAULT});
    theConfig = CConfigDlg();
}

using ConfigCommands = ConfigTest;

TEST_F(ConfigCommands, NotificationCodeIsIgnored)
{
    Type(IDC_CFG_SLAVE_ID, "9");
    page.At(IDC_CFG_STATUS).text = "";
    theConfig.OnCommand(Handle(), (static_cast<uintptr_t>(0xFFFF) << 16) | IDC_CFG_DEFAULT);
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "1");
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Set to defaults.");
}

TEST_F(ConfigCommands, DefaultRestoresEveryByte)
{
    SetRecord({0xFF, 0xFF, 9, 9, 9, 9, 9, 9, 0xFF, 9, 9, 9, 9, 9});
    theConfig.RecordToControls(Handle());
    Command(IDC_CFG_DEFAULT);
    EXPECT_EQ(Record(), kDefaultBytes);
    EXPECT_EQ(Text(IDC_CFG_DIRECT_BAUD), "2400/2400");
    EXPECT_TRUE(page.At(IDC_CFG_S2_ID2).enabled);
}

TEST_F(ConfigCommands, UnknownIdsDoNothing)
{
    Type(IDC_CFG_SLAVE_ID, "9");
    for (int id : {0, 1, 2, IDC_CFG_STATUS, IDC_CFG_SLAVE_ID, IDC_CFG_DIP_SWITCH, 0xFFFF}) {
        Command(id);
        EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "9");
        EXPECT_EQ(Record(), kDefaultBytes);
    }
    EXPECT_TRUE(fake::TakeBrowseCalls().empty());
    EXPECT_TRUE(fake::Serial().writes.empty());
}

TEST(ConfigRecordTable, DirectBaudCodesOfRatesNotInTheTable)
{
    const struct {
        unsigned long rate;
        uint8_t code;
    } cases[] = {{115200, 0}, {57600, 1}, {38400, 8}, {19200, 9}, {9600, 10}, {300, 15},
                 {0, 12},     {2400, 12}, {1201, 12}, {4294967295ul, 12},
                 {96000, 12}, {1152, 12}};
    for (const auto &c : cases)
        EXPECT_EQ(config::DirectBaudCode(c.rate), c.code) << c.rate;
    for (int code = 0; code < 256; ++code) {
        const uint8_t back = config::DirectBaudCode(std::stoul(config::DirectBaudText(code)));
        const bool listed = code <= 1 || (code >= 8 && code <= 15);
        EXPECT_EQ(back, listed ? code : 10) << code;
    }
}

}  // namespace
