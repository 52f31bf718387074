// Record to controls and back, on whichever page the host gives: the same table of cases runs
// against the in-memory controls natively and against template 129's real controls under Wine.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>

#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/config_fields.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "res/resource.h"
#include "tests/config/page_host.h"

namespace {

using Bytes = std::array<uint8_t, ConfigRecord::kSize>;

const Bytes kDefaults = {0x01, 0x00, 4, 1, 100, 30, 5, 1, 2, 5, 50, 12, 18, 6};

class ConfigPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        host = MakeConfigPage();
        page = host->Handle();
        ASSERT_NE(page, nullptr);
    }

    void Show(const Bytes &bytes)
    {
        std::memcpy(theConfig.m_record.Bytes(), bytes.data(), bytes.size());
        theConfig.RecordToControls(page);
    }

    Bytes Take()
    {
        theConfig.ControlsToRecord(page);
        Bytes out;
        std::memcpy(out.data(), theConfig.m_record.Bytes(), out.size());
        return out;
    }

    std::string Text(int id)
    {
        char buf[256];
        dlg::GetText(page, id, buf, sizeof buf);
        return buf;
    }

    void ClearAllOptions()
    {
        for (int id : {IDC_CFG_RX_EQUALISE, IDC_CFG_V22_TX_HIGH, IDC_CFG_NO_CTRL_BYTE, IDC_CFG_NRZI,
                       IDC_CFG_SEND_32_BITS, IDC_CFG_SYNC_CLOCK, IDC_CFG_KEEP_SENDING,
                       IDC_CFG_SECURE_POLLS})
            dlg::SetChecked(page, id, false);
        dlg::ComboSetSel(page, IDC_CFG_PROTOCOL, 0);
    }

    std::unique_ptr<PageHost> host;
    WindowHandle page = nullptr;
};

TEST_F(ConfigPage, FreshPageShowsAndStoresTheDefaults)
{
    EXPECT_EQ(Text(IDC_CFG_STATUS), "Set to defaults.");
    const struct {
        int id;
        const char *text;
    } shown[] = {
        {IDC_CFG_SLAVE_ID, "1"},        {IDC_CFG_GENISYS_BAUD, "9600"}, {IDC_CFG_GENISYS_TIMEOUT, "5"},
        {IDC_CFG_POLL_TIME, "1000"},    {IDC_CFG_RECALL_TIME, "30"},    {IDC_CFG_PROTOCOL, "US&S"},
        {IDC_CFG_S2_ID1, "1"},          {IDC_CFG_S2_ID2, "2"},          {IDC_CFG_S2_TIMEOUT, "5"},
        {IDC_CFG_ISD, "500"},           {IDC_CFG_DIRECT_BAUD, "2400/2400"},
        {IDC_CFG_PREAMBLE, "120"},      {IDC_CFG_POSTAMBLE, "40"},
    };
    for (const auto &s : shown)
        EXPECT_EQ(Text(s.id), s.text) << "control " << s.id;
    EXPECT_TRUE(dlg::IsChecked(page, IDC_CFG_S2_ID2_ON));
    EXPECT_TRUE(host->IsEnabled(IDC_CFG_S2_ID2));
    EXPECT_TRUE(dlg::IsChecked(page, IDC_CFG_RX_EQUALISE));
    for (int id : {IDC_CFG_V22_TX_HIGH, IDC_CFG_NO_CTRL_BYTE, IDC_CFG_NRZI, IDC_CFG_SEND_32_BITS,
                   IDC_CFG_SYNC_CLOCK, IDC_CFG_KEEP_SENDING, IDC_CFG_SECURE_POLLS})
        EXPECT_FALSE(dlg::IsChecked(page, id)) << "check box " << id;
    EXPECT_EQ(Take(), kDefaults);
}

// A typed number and the byte it is stored as: clamps, integer divisions, the VF rounding,
// and what Windows makes of empty, non-numeric, negative and over-long texts (a pasted "-5"
// is no number, not 4294967291; 4294967295 is a number, the largest).
TEST_F(ConfigPage, TypedNumbersAreClampedIntoTheirBytes)
{
    const struct {
        int id;
        const char *typed;
        size_t byte;
        uint8_t stored;
    } cases[] = {
        {IDC_CFG_SLAVE_ID, "0", 3, 1},           {IDC_CFG_SLAVE_ID, "", 3, 1},
        {IDC_CFG_SLAVE_ID, "300", 3, 255},       {IDC_CFG_SLAVE_ID, "abc", 3, 1},
        {IDC_CFG_SLAVE_ID, "4294967294", 3, 255}, {IDC_CFG_SLAVE_ID, "4294967296", 3, 1},
        {IDC_CFG_SLAVE_ID, "256", 3, 255},       {IDC_CFG_SLAVE_ID, "255", 3, 255},
        {IDC_CFG_S2_ID1, "70", 7, 63},           {IDC_CFG_S2_ID1, "0", 7, 0},
        {IDC_CFG_S2_ID1, "63", 7, 63},           {IDC_CFG_S2_ID2, "64", 8, 63},
        {IDC_CFG_POLL_TIME, "1234", 4, 123},     {IDC_CFG_POLL_TIME, "50", 4, 10},
        {IDC_CFG_POLL_TIME, "99999", 4, 255},    {IDC_CFG_POLL_TIME, "109", 4, 10},
        {IDC_CFG_POLL_TIME, "119", 4, 11},       {IDC_CFG_POLL_TIME, "2559", 4, 255},
        {IDC_CFG_POLL_TIME, "", 4, 10},          {IDC_CFG_ISD, "5", 10, 2},
        {IDC_CFG_ISD, "29", 10, 2},              {IDC_CFG_ISD, "30", 10, 3},
        {IDC_CFG_ISD, "2550", 10, 255},          {IDC_CFG_ISD, "2560", 10, 255},
        {IDC_CFG_GENISYS_TIMEOUT, "1", 6, 3},    {IDC_CFG_S2_TIMEOUT, "1", 9, 3},
        {IDC_CFG_GENISYS_TIMEOUT, "4", 6, 4},    {IDC_CFG_S2_TIMEOUT, "1000", 9, 255},
        {IDC_CFG_RECALL_TIME, "0", 5, 1},        {IDC_CFG_RECALL_TIME, "255", 5, 255},
        {IDC_CFG_PREAMBLE, "100", 12, 15},       {IDC_CFG_PREAMBLE, "4", 12, 1},
        {IDC_CFG_PREAMBLE, "3", 12, 0},          {IDC_CFG_PREAMBLE, "120", 12, 18},
        {IDC_CFG_PREAMBLE, "2000", 12, 255},     {IDC_CFG_PREAMBLE, "1696", 12, 254},
        {IDC_CFG_PREAMBLE, "1697", 12, 255},     {IDC_CFG_POSTAMBLE, "40", 13, 6},
        {IDC_CFG_POSTAMBLE, "4294967294", 13, 255}, {IDC_CFG_POSTAMBLE, "", 13, 0},
        {IDC_CFG_SLAVE_ID, "-5", 3, 1},          {IDC_CFG_SLAVE_ID, "4294967295", 3, 255},
        {IDC_CFG_SLAVE_ID, " 12", 3, 12},        {IDC_CFG_SLAVE_ID, "12abc", 3, 12},
        {IDC_CFG_POLL_TIME, "-1", 4, 10},        {IDC_CFG_POLL_TIME, "4294967295", 4, 255},
        {IDC_CFG_S2_ID2, "-1", 8, 0},            {IDC_CFG_PREAMBLE, "-100", 12, 0},
        {IDC_CFG_POSTAMBLE, "4294967295", 13, 255},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("control ") + std::to_string(c.id) + " typed \"" + c.typed + "\"");
        Show(kDefaults);
        dlg::SetText(page, c.id, c.typed);
        Bytes expected = kDefaults;
        expected[c.byte] = c.stored;
        EXPECT_EQ(Take(), expected);
    }
}

// "Write" refreshes the page from the record: a clamped value comes back as the record holds it.
TEST_F(ConfigPage, ClampedValuesShowAsStored)
{
    const struct {
        int id;
        const char *typed;
        const char *shown;
    } cases[] = {
        {IDC_CFG_POLL_TIME, "1234", "1230"}, {IDC_CFG_POLL_TIME, "5", "100"},
        {IDC_CFG_ISD, "5", "20"},            {IDC_CFG_PREAMBLE, "4", "7"},
        {IDC_CFG_PREAMBLE, "100", "100"},    {IDC_CFG_POSTAMBLE, "2000", "1700"},
        {IDC_CFG_SLAVE_ID, "0", "1"},        {IDC_CFG_S2_ID1, "70", "63"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        dlg::SetText(page, c.id, c.typed);
        theConfig.ControlsToRecord(page);
        theConfig.RecordToControls(page);
        EXPECT_EQ(Text(c.id), c.shown);
    }
}

TEST_F(ConfigPage, EachOptionSetsExactlyItsBit)
{
    const struct {
        int id;
        size_t byte;
        uint8_t value;
    } cases[] = {
        {IDC_CFG_RX_EQUALISE, 0, 0x01},  {IDC_CFG_V22_TX_HIGH, 0, 0x02},
        {IDC_CFG_NRZI, 0, 0x04},         {IDC_CFG_NO_CTRL_BYTE, 0, 0x08},
        {IDC_CFG_SEND_32_BITS, 0, 0x10}, {IDC_CFG_SYNC_CLOCK, 0, 0x20},
        {IDC_CFG_KEEP_SENDING, 0, 0x40}, {IDC_CFG_SECURE_POLLS, 1, 0x01},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        ClearAllOptions();
        dlg::SetChecked(page, c.id, true);
        const Bytes taken = Take();
        EXPECT_EQ(taken[c.byte], c.value);
        EXPECT_EQ(taken[1 - c.byte], 0);
        // ... and the record shows the bit on that box alone.
        ClearAllOptions();
        theConfig.RecordToControls(page);
        EXPECT_TRUE(dlg::IsChecked(page, c.id));
    }
    ClearAllOptions();
    dlg::ComboSetSel(page, IDC_CFG_PROTOCOL, 1);
    EXPECT_EQ(Take()[0], 0x80);
    ClearAllOptions();
    EXPECT_EQ(Take()[0], 0x00);
}

TEST_F(ConfigPage, ProtocolListFollowsBitSeven)
{
    Bytes b = kDefaults;
    b[0] = 0x80;
    Show(b);
    EXPECT_EQ(Text(IDC_CFG_PROTOCOL), "GE/Harmon");
    b[0] = 0x7F;
    Show(b);
    EXPECT_EQ(Text(IDC_CFG_PROTOCOL), "US&S");
}

// Byte 8: the second S2 ID and, in bit 6, whether it is polled at all.
TEST_F(ConfigPage, SecondS2IdAndItsOffBit)
{
    const struct {
        uint8_t byte8;
        const char *shown;
        bool on;
        uint8_t storedBack;
    } cases[] = {
        {0x00, "0", true, 0x00},  {63, "63", true, 63},    {0x45, "5", false, 0x45},
        {0x40, "0", false, 0x40}, {0x80, "0", false, 0x40}, {0xFF, "63", false, 0x7F},
        {0xC7, "7", false, 0x47},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.byte8));
        Bytes b = kDefaults;
        b[8] = c.byte8;
        Show(b);
        EXPECT_EQ(Text(IDC_CFG_S2_ID2), c.shown);
        EXPECT_EQ(dlg::IsChecked(page, IDC_CFG_S2_ID2_ON), c.on);
        EXPECT_EQ(host->IsEnabled(IDC_CFG_S2_ID2), c.on);
        EXPECT_EQ(Take()[8], c.storedBack);
    }
}

TEST_F(ConfigPage, ClearedId2KeepsTheTypedIdBesideTheOffBit)
{
    dlg::SetChecked(page, IDC_CFG_S2_ID2_ON, false);
    theConfig.OnCommand(page, IDC_CFG_S2_ID2_ON);
    EXPECT_FALSE(host->IsEnabled(IDC_CFG_S2_ID2));
    dlg::SetText(page, IDC_CFG_S2_ID2, "5");
    EXPECT_EQ(Take()[8], 0x45);
    dlg::SetChecked(page, IDC_CFG_S2_ID2_ON, true);
    theConfig.OnCommand(page, IDC_CFG_S2_ID2_ON);
    EXPECT_TRUE(host->IsEnabled(IDC_CFG_S2_ID2));
    EXPECT_EQ(theConfig.m_record.s2Id2, 0x45) << "toggling the box leaves the record alone";
}

// Byte 2: list item (byte - 1); anything else shows no selection and is stored as 1, whatever
// the list showed before (an index past the end must not keep the old rate).
TEST_F(ConfigPage, GenisysBaudIndex)
{
    const struct {
        uint8_t before;  // code shown first
        uint8_t code;
        const char *shown;
        uint8_t storedBack;
    } cases[] = {
        {4, 1, "1200", 1}, {4, 2, "2400", 2}, {4, 3, "4800", 3}, {1, 4, "9600", 4},
        {4, 5, "19200", 5}, {4, 0, "", 1},    {5, 6, "", 1},     {4, 7, "", 1},
        {3, 255, "", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        Bytes b = kDefaults;
        b[2] = c.before;
        Show(b);
        b[2] = c.code;
        Show(b);
        EXPECT_EQ(Text(IDC_CFG_GENISYS_BAUD), c.shown);
        EXPECT_EQ(dlg::ComboGetSel(page, IDC_CFG_GENISYS_BAUD), c.shown[0] ? c.code - 1 : -1);
        EXPECT_EQ(Take()[2], c.storedBack);
    }
}

// Byte 11: codes select the item beginning with their rate; 0, 1, 8 and 9 match no item and
// keep whatever the list showed before.
TEST_F(ConfigPage, DirectBaudCodesBothWays)
{
    const struct {
        uint8_t before;  // code shown first
        uint8_t code;
        const char *shown;
        uint8_t storedBack;
    } cases[] = {
        {12, 10, "9600/1200", 10}, {12, 11, "4800/1200", 11}, {10, 12, "2400/2400", 12},
        {12, 13, "1200/1200", 13}, {12, 14, "600/1200", 14},  {12, 15, "300/1200", 15},
        {12, 5, "9600/1200", 10},  {12, 2, "9600/1200", 10},  {12, 16, "9600/1200", 10},
        {12, 255, "9600/1200", 10}, {14, 9, "600/1200", 14},  {13, 0, "1200/1200", 13},
        {15, 1, "300/1200", 15},   {11, 8, "4800/1200", 11},
        {13, 7, "9600/1200", 10},  {13, 128, "9600/1200", 10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        Bytes b = kDefaults;
        b[11] = c.before;
        Show(b);
        b[11] = c.code;
        Show(b);
        EXPECT_EQ(Text(IDC_CFG_DIRECT_BAUD), c.shown);
        EXPECT_EQ(theConfig.ReadDirectBaud(page), c.storedBack);
        EXPECT_EQ(Take()[11], c.storedBack);
    }
}

// klp shows a record by the core's rule of which item a code selects: for every byte value it
// is the item the list itself selects, and a code no item shows reads as a rate naming it.
TEST_F(ConfigPage, DirectBaudItemOfEveryCodeIsTheOneTheListSelects)
{
    const config::Field &f = config::GetField(config::kFieldDirectBaud);
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE(code);
        Bytes b = kDefaults;
        b[11] = 13;
        Show(b);
        b[11] = static_cast<uint8_t>(code);
        Show(b);
        const int item = config::ShownItem(f, static_cast<unsigned>(code));
        EXPECT_EQ(Text(IDC_CFG_DIRECT_BAUD), item >= 0 ? f.items[item].text : "1200/1200");
        if (item < 0) {
            EXPECT_EQ(config::DirectBaudCode(std::stoul(config::UnlistedText(f, code))), code);
        }
    }
}

TEST_F(ConfigPage, DirectBaudWithNoSelectionReadsAs2400)
{
    dlg::ComboSetSel(page, IDC_CFG_DIRECT_BAUD, -1);
    theConfig.ShowDirectBaud(page, 9);  // matches nothing: still no selection
    EXPECT_EQ(dlg::ComboGetSel(page, IDC_CFG_DIRECT_BAUD), -1);
    EXPECT_EQ(theConfig.ReadDirectBaud(page), 12);
}

TEST_F(ConfigPage, VfTimesShowRoundedToMilliseconds)
{
    const struct {
        uint8_t units;
        const char *shown;
    } cases[] = {{18, "120"}, {6, "40"}, {1, "7"}, {255, "1700"}, {0, "0"}, {3, "20"}, {2, "13"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.units));
        Bytes b = kDefaults;
        b[12] = c.units;
        b[13] = c.units;
        Show(b);
        EXPECT_EQ(Text(IDC_CFG_PREAMBLE), c.shown);
        EXPECT_EQ(Text(IDC_CFG_POSTAMBLE), c.shown);
    }
}

TEST_F(ConfigPage, UncheckedRangesAreShownUnmasked)
{
    Bytes b = kDefaults;
    b[7] = 200;  // ID 1 above 63 shows as it is
    b[3] = 0;
    b[4] = 255;
    Show(b);
    EXPECT_EQ(Text(IDC_CFG_S2_ID1), "200");
    EXPECT_EQ(Text(IDC_CFG_SLAVE_ID), "0");
    EXPECT_EQ(Text(IDC_CFG_POLL_TIME), "2550");
    const Bytes back = Take();
    EXPECT_EQ(back[7], 63);
    EXPECT_EQ(back[3], 1);
    EXPECT_EQ(back[4], 255);
}

// For any 14 bytes the round trip lands in range; for a record in range it is the identity,
// except for byte 1's spare bits and the direct baud codes no list item offers (those keep the
// item shown before).
TEST_F(ConfigPage, RoundTripPropertyOverRandomRecords)
{
    static const uint8_t kCodes[] = {0, 1, 8, 9, 10, 11, 12, 13, 14, 15};
    // The page's stored ranges, byte by byte, as the record's table gives them.
    struct Range {
        int low, high;
    };
    static const Range kRanges[14] = {{0, 255}, {0, 1},  {1, 5},   {1, 255}, {10, 255},
                                      {1, 255}, {3, 255}, {0, 63},  {0, 127}, {3, 255},
                                      {2, 255}, {10, 15}, {0, 255}, {0, 255}};
    std::mt19937 rng(20111215);
    std::uniform_int_distribution<int> byte(0, 255);
    const int rounds = PropertyRounds();
    for (int round = 0; round < rounds; ++round) {
        Bytes in;
        for (uint8_t &v : in)
            v = static_cast<uint8_t>(byte(rng));
        Show(in);
        const Bytes taken = Take();
        for (size_t i = 0; i < taken.size(); ++i) {
            ASSERT_GE(taken[i], kRanges[i].low) << "round " << round << ", byte " << i;
            ASSERT_LE(taken[i], kRanges[i].high) << "round " << round << ", byte " << i;
        }
        ASSERT_TRUE(config::IsStorable(theConfig.m_record)) << "round " << round;

        Bytes inRange = in;
        for (size_t i = 0; i < inRange.size(); ++i) {
            const Range r = kRanges[i];
            inRange[i] = static_cast<uint8_t>(r.low + in[i] % (r.high - r.low + 1));
        }
        inRange[1] = in[1];
        inRange[11] = kCodes[in[11] % 10];
        const uint8_t shownBefore = theConfig.ReadDirectBaud(page);
        Show(inRange);
        Bytes expected = inRange;
        expected[1] &= 0x01;
        if (inRange[11] < 10)
            expected[11] = shownBefore;
        ASSERT_EQ(Take(), expected) << "round " << round;
    }
}

}  // namespace
