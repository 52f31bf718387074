// The Comms page's logic against in-memory controls, a scripted port probe and a recording
// serial port: port list, automatic open, port and baud selection, "slave to config", "Find Slaves".
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "comms/page/comms_page.h"
#include "res/resource.h"
#include "tests/support/fake_probe.h"
#include "tests/support/fakes.h"

namespace {

using serial::ProbeResult;

constexpr int kCbnDropDown = 7;
constexpr int kCbnCloseUp = 8;
constexpr int kCbnSelEndOk = 9;
constexpr int kEnSetFocus = 0x0100;
constexpr int kEnKillFocus = 0x0200;
constexpr int kBnClicked = 0;
constexpr int kBnDoubleClicked = 5;

// A WM_COMMAND parameter: the control id below the notification code.
uintptr_t Command(int id, int notification)
{
    return static_cast<uintptr_t>(id) | static_cast<uintptr_t>(notification) << 16;
}

void ResetSerial()
{
    fake::SerialState &s = fake::Serial();
    s.writes.clear();
    s.opens.clear();
    s.openResult = 1;
    s.failWrites = false;
    s.closes = 0;
}

class CommsPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::ResetAll();
        theLink.Close();
        theLink.m_portOpen = 0;
        theLink.m_slaveToConfig = 1;
        ResetSerial();
        fake::AddCommsControls(m_page);
        fake::SetProbeResults({});
    }

    void TearDown() override
    {
        theLink.Close();
        theLink.m_portOpen = 0;
        theComms.m_hwndPage = nullptr;
        theComms.m_writeLogFile = false;
        theComms.m_showPolls = false;
    }

    void Init(const std::map<std::string, serial::ProbeResult> &ports)
    {
        fake::SetProbeResults(ports);
        theComms.OnInitPage(m_h);
    }

    // The user picks an entry of a list: the selection changes, then the notification comes.
    void Pick(int list, int index)
    {
        dlg::ComboSetSel(m_h, list, index);
        theComms.OnCommand(m_h, Command(list, comms::kCbnSelChange));
    }

    // The log lines without their time-stamps.
    std::vector<std::string> Log()
    {
        std::vector<std::string> texts;
        for (const std::string &line : m_page.LogLines(IDC_LOG))
            texts.push_back(line.substr(line.find('\t') + 1));
        return texts;
    }

    std::string LastLog()
    {
        const std::vector<std::string> lines = Log();
        return lines.empty() ? std::string() : lines.back();
    }

    fake::Page m_page;
    WindowHandle m_h = m_page.handle();
};

// ---- Port list ---------------------------------------------------------------------------

struct PortListCase {
    const char *what;
    std::map<std::string, serial::ProbeResult> ports;
    std::vector<std::string> expected;
};

TEST_F(CommsPageTest, PortListHoldsNoneThenEveryPresentOrBusyPortInAscendingOrder)
{
    const PortListCase cases[] = {
        {"no ports", {}, {"None"}},
        {"COM1 free, COM3 held", {{"COM3", ProbeResult::kBusy}, {"COM1", ProbeResult::kPresent}},
         {"None", "COM1", "COM3"}},
        {"the 9/10 boundary", {{"COM9", ProbeResult::kPresent}, {"\\\\.\\COM10", ProbeResult::kBusy}},
         {"None", "COM9", "\\\\.\\COM10"}},
        {"COM12 under its full name", {{"\\\\.\\COM12", ProbeResult::kPresent}}, {"None", "\\\\.\\COM12"}},
        {"last port", {{"\\\\.\\COM30", ProbeResult::kPresent}}, {"None", "\\\\.\\COM30"}},
        {"short names above 9 are not ports", {{"COM12", ProbeResult::kPresent}}, {"None"}},
    };
    for (const PortListCase &c : cases) {
        SCOPED_TRACE(c.what);
        fake::Page page;
        fake::AddCommsControls(page);
        fake::SetProbeResults(c.ports);
        theComms.OnInitPage(page.handle());
        EXPECT_EQ(page.At(IDC_PORT_LIST).items, c.expected);
    }
}

TEST_F(CommsPageTest, ProbesComOneToThirtyOnceEachUnderTheNamesThatOpenThem)
{
    Init({});
    const std::vector<std::string> probed = fake::TakeProbed();
    ASSERT_EQ(probed.size(), 30u);
    for (int n = 1; n <= 30; ++n) {
        const std::string expected = (n <= 9 ? "COM" : "\\\\.\\COM") + std::to_string(n);
        EXPECT_EQ(probed[n - 1], expected);
    }
}

// ---- Page initialisation -----------------------------------------------------------------

TEST_F(CommsPageTest, InitFillsTheBaudListSelects9600AndShowsTheSlaveAddress)
{
    theLink.m_slaveToConfig = 42;
    fake::SetProbeResults({{"COM1", ProbeResult::kPresent}});
    EXPECT_EQ(theComms.OnInitPage(m_h), 1);
    EXPECT_EQ(m_page.At(IDC_BAUD_LIST).items,
              (std::vector<std::string>{"1200", "2400", "4800", "9600", "19200"}));
    EXPECT_EQ(m_page.Text(IDC_BAUD_LIST), "9600");
    EXPECT_EQ(m_page.Text(IDC_SLAVE_TO_CONFIG), "42");
    EXPECT_EQ(theComms.m_hwndPage, m_h);
}

TEST_F(CommsPageTest, UntilTheTimerNoPortIsSelectedOpenedOrLogged)
{
    Init({{"COM1", ProbeResult::kPresent}});
    EXPECT_EQ(m_page.At(IDC_PORT_LIST).sel, -1);
    EXPECT_TRUE(fake::Serial().opens.empty());
    EXPECT_FALSE(theLink.IsOpen());
    EXPECT_TRUE(Log().empty());
    EXPECT_TRUE(fake::TakeMessages().empty());
}

// ---- Automatic open ----------------------------------------------------------------------

TEST_F(CommsPageTest, AutoOpenOpensTheFirstPortFoundAt9600)
{
    Init({{"COM1", ProbeResult::kPresent}, {"COM3", ProbeResult::kPresent}});
    theComms.OnAutoOpen(m_h);
    EXPECT_EQ(fake::Serial().opens, std::vector<std::string>{"COM1@9600"});
    EXPECT_EQ(m_page.Text(IDC_PORT_LIST), "COM1");
    EXPECT_TRUE(theLink.IsOpen());
    EXPECT_EQ(theLink.m_portOpen, 1);
    EXPECT_EQ(Log(), std::vector<std::string>{"Opened COM1 at 9600 baud."});
    EXPECT_TRUE(fake::TakeMessages().empty());
}

TEST_F(CommsPageTest, AutoOpenWithoutPortsFailsOnAnEmptyNameAndLogsAfterTheBox)
{
    Init({});
    size_t linesWhileBoxOpen = 99;
    fake::OnMessage([&](const fake::Message &) { linesWhileBoxOpen = Log().size(); });
    fake::Serial().openResult = kSerialOpenDeviceFailed;
    theComms.OnAutoOpen(m_h);

    EXPECT_EQ(fake::Serial().opens, std::vector<std::string>{"@9600"});
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, sys::MessageIcon::kError);
    EXPECT_NE(boxes[0].text.find("''"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("-1"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(linesWhileBoxOpen, 0u);
    EXPECT_EQ(m_page.At(IDC_PORT_LIST).sel, 0);  // "None"
    EXPECT_EQ(Log(), std::vector<std::string>{"Failed to open  at 9600 baud."});
}

TEST_F(CommsPageTest, APortHeldElsewhereIsListedAndItsFailedOpenFallsBackToNone)
{
    Init({{"COM3", ProbeResult::kBusy}});
    fake::Serial().openResult = kSerialOpenDeviceFailed;
    theComms.OnAutoOpen(m_h);
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("COM3"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(m_page.Text(IDC_PORT_LIST), "None");
    EXPECT_EQ(theLink.m_portOpen, 0);
    EXPECT_FALSE(theLink.IsOpen());
    // "None" was selected by the program, so no "Port closed." line follows.
    EXPECT_EQ(Log(), std::vector<std::string>{"Failed to open COM3 at 9600 baud."});
}

// ---- Port and baud selection -------------------------------------------------------------

TEST_F(CommsPageTest, AnotherBaudRateClosesAndReopensThePortAtTheNewRate)
{
    Init({{"COM1", ProbeResult::kPresent}});
    theComms.OnAutoOpen(m_h);
    const char *const rates[] = {"19200", "1200", "2400", "4800", "9600"};
    const int indexes[] = {4, 0, 1, 2, 3};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(rates[i]);
        Pick(IDC_BAUD_LIST, indexes[i]);
        EXPECT_EQ(fake::Serial().closes, i + 1);
        EXPECT_EQ(fake::Serial().opens.back(), std::string("COM1@") + rates[i]);
        EXPECT_TRUE(theLink.IsOpen());
        EXPECT_EQ(LastLog(), std::string("Opened COM1 at ") + rates[i] + " baud.");
    }
}

TEST_F(CommsPageTest, NoneClosesAnOpenPortAndClearsTheFlag)
{
    Init({{"COM1", ProbeResult::kPresent}});
    theComms.OnAutoOpen(m_h);
    Pick(IDC_PORT_LIST, 0);
    EXPECT_EQ(fake::Serial().closes, 1);
    EXPECT_FALSE(theLink.IsOpen());
    EXPECT_EQ(theLink.m_portOpen, 0);
    EXPECT_EQ(LastLog(), "Port closed.");
}

TEST_F(CommsPageTest, NoneWithNoPortOpenOnlyLogsAndBaudPicksLogAgain)
{
    Init({{"COM1", ProbeResult::kPresent}});
    Pick(IDC_PORT_LIST, 0);
    Pick(IDC_BAUD_LIST, 1);
    EXPECT_EQ(fake::Serial().closes, 0);
    EXPECT_TRUE(fake::Serial().opens.empty());
    EXPECT_EQ(Log(), (std::vector<std::string>{"Port closed.", "Port closed."}));
}

TEST_F(CommsPageTest, AFailedReopenLeavesThePortFlagSetButClosingStaysHarmless)
{
    Init({{"COM1", ProbeResult::kPresent}, {"COM4", ProbeResult::kBusy}});
    theComms.OnAutoOpen(m_h);
    fake::Serial().openResult = kSerialOpenDeviceFailed;
    Pick(IDC_PORT_LIST, 2);
    fake::TakeMessages();
    EXPECT_FALSE(theLink.IsOpen());
    EXPECT_EQ(theLink.m_portOpen, 1);  // a failed open leaves the flag as it was
    EXPECT_EQ(m_page.Text(IDC_PORT_LIST), "None");
    EXPECT_EQ(LastLog(), "Failed to open COM4 at 9600 baud.");
    Pick(IDC_PORT_LIST, 0);
    EXPECT_EQ(theLink.m_portOpen, 0);
    EXPECT_EQ(fake::Serial().closes, 1);  // COM1, closed by the reopen; nothing more to close
    EXPECT_EQ(LastLog(), "Port closed.");
}

TEST_F(CommsPageTest, APortAboveNineIsOpenedAndLoggedUnderItsFullName)
{
    Init({{"\\\\.\\COM12", ProbeResult::kPresent}});
    theComms.OnAutoOpen(m_h);
    EXPECT_EQ(fake::Serial().opens, std::vector<std::string>{"\\\\.\\COM12@9600"});
    EXPECT_EQ(LastLog(), "Opened \\\\.\\COM12 at 9600 baud.");
}

TEST_F(CommsPageTest, OtherListNotificationsAreIgnored)
{
    Init({{"COM1", ProbeResult::kPresent}});
    dlg::ComboSetSel(m_h, IDC_PORT_LIST, 1);
    for (int list : {IDC_PORT_LIST, IDC_BAUD_LIST}) {
        for (int code : {kCbnDropDown, kCbnCloseUp, kCbnSelEndOk, comms::kEnChange})
            theComms.OnCommand(m_h, Command(list, code));
    }
    EXPECT_TRUE(fake::Serial().opens.empty());
    EXPECT_TRUE(Log().empty());
}

// ---- "Slave to config" -------------------------------------------------------------------

TEST_F(CommsPageTest, SlaveToConfigTakesTheFieldAsAnUnsignedNumberWithoutRangeCheck)
{
    struct Case {
        const char *text;
        int32_t expected;
    };
    const Case cases[] = {
        {"300", 300}, {"", 0}, {"7", 7}, {"0", 0}, {"4294967294", -2}, {"4294967295", -1},
        {"4294967296", 0}, {"-5", 0}, {"-0", 0}, {" 249", 249}, {"12abc", 12}, {"abc", 0},
    };
    Init({});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        theLink.m_slaveToConfig = 12345;
        dlg::SetText(m_h, IDC_SLAVE_TO_CONFIG, c.text);
        theComms.OnCommand(m_h, Command(IDC_SLAVE_TO_CONFIG, comms::kEnChange));
        EXPECT_EQ(theLink.m_slaveToConfig.load(), c.expected);
    }
}

TEST_F(CommsPageTest, SlaveToConfigIgnoresFocusNotifications)
{
    Init({});
    dlg::SetText(m_h, IDC_SLAVE_TO_CONFIG, "99");
    theComms.OnCommand(m_h, Command(IDC_SLAVE_TO_CONFIG, kEnSetFocus));
    theComms.OnCommand(m_h, Command(IDC_SLAVE_TO_CONFIG, kEnKillFocus));
    EXPECT_EQ(theLink.m_slaveToConfig.load(), 1);
}

// ---- The log's switches ------------------------------------------------------------------

// Each click keeps both boxes where the threads that log read them, without asking the window.
TEST_F(CommsPageTest, LogSwitchesAreKeptForTheLoggingThreads)
{
    const struct {
        bool writeFile, showPolls;
        int clicked;
    } cases[] = {
        {true, false, IDC_WRITE_LOG_FILE}, {true, true, IDC_SHOW_POLLS},
        {false, true, IDC_WRITE_LOG_FILE}, {false, false, IDC_SHOW_POLLS},
    };
    Init({});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.clicked);
        dlg::SetChecked(m_h, IDC_WRITE_LOG_FILE, c.writeFile);
        dlg::SetChecked(m_h, IDC_SHOW_POLLS, c.showPolls);
        theComms.OnCommand(m_h, Command(c.clicked, kBnClicked));
        EXPECT_EQ(theComms.m_writeLogFile.load(), c.writeFile);
        EXPECT_EQ(theComms.m_showPolls.load(), c.showPolls);
    }
    EXPECT_TRUE(Log().empty());
}

// ---- "Find Slaves" -----------------------------------------------------------------------

// CRC-16/ARC bit by bit, independent of the table-driven one under test.
uint16_t CrcArc(const std::vector<uint8_t> &bytes)
{
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// The wire bytes between header and terminator, with the 0xF0 escapes undone.
std::vector<uint8_t> Unescape(const std::vector<uint8_t> &wire)
{
    std::vector<uint8_t> out;
    for (size_t i = 1; i + 1 < wire.size(); ++i) {
        if (wire[i] == 0xF0 && i + 2 < wire.size())
            out.push_back(static_cast<uint8_t>(0xF0 + wire[++i]));
        else
            out.push_back(wire[i]);
    }
    return out;
}

TEST_F(CommsPageTest, FindSlavesEstimatesTheTimeFromTheBaudRate)
{
    const char *const estimates[][2] = {
        {"1200", "6.4"}, {"2400", "3.2"}, {"4800", "1.6"}, {"9600", "0.8"}, {"19200", "0.4"},
    };
    Init({});
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(estimates[i][0]);
        dlg::ComboSetSel(m_h, IDC_BAUD_LIST, i);
        theComms.OnCommand(m_h, Command(IDC_FIND_SLAVES, kBnClicked));
        EXPECT_EQ(LastLog(), std::string("Polling all slave addresses. This will take about ") +
                                 estimates[i][1] + " Sec.");
    }
}

TEST_F(CommsPageTest, FindSlavesSendsOneConfigReadRequestToEachAddressWithoutLogging)
{
    Init({{"COM1", ProbeResult::kPresent}});
    theComms.OnAutoOpen(m_h);
    const size_t linesBefore = Log().size();
    // Any notification of the button.
    theComms.OnCommand(m_h, Command(IDC_FIND_SLAVES, kBnDoubleClicked));

    EXPECT_EQ(Log().size(), linesBefore + 1);  // the estimate only: no transmit lines
    const std::vector<std::vector<uint8_t>> &writes = fake::Serial().writes;
    ASSERT_EQ(writes.size(), 255u);
    for (int address = 1; address <= 255; ++address) {
        SCOPED_TRACE(address);
        const std::vector<uint8_t> &wire = writes[address - 1];
        ASSERT_GE(wire.size(), 5u);
        EXPECT_EQ(wire.front(), 0xFB);
        EXPECT_EQ(wire.back(), 0xF6);
        for (size_t i = 1; i + 1 < wire.size(); ++i)
            EXPECT_LE(wire[i], 0xF0) << "unescaped byte at " << i;
        const std::vector<uint8_t> body = Unescape(wire);
        ASSERT_EQ(body.size(), 3u);  // address, CRC low, CRC high
        EXPECT_EQ(body[0], address);
        const uint16_t crc = static_cast<uint16_t>(body[1] | body[2] << 8);
        EXPECT_EQ(crc, CrcArc({0xFB, static_cast<uint8_t>(address)}) ^ 0x0F0F);
    }
}

TEST_F(CommsPageTest, FindSlavesWithNoPortOpenOnlyLogsTheEstimate)
{
    Init({});
    theComms.OnCommand(m_h, Command(IDC_FIND_SLAVES, kBnClicked));
    EXPECT_TRUE(fake::Serial().writes.empty());
    EXPECT_EQ(Log(), std::vector<std::string>{
                         "Polling all slave addresses. This will take about 0.8 Sec."});
}

TEST_F(CommsPageTest, CommandsFromOtherControlsDoNothing)
{
    Init({{"COM1", ProbeResult::kPresent}});
    for (int id : {IDC_LOG, IDC_WRITE_LOG_FILE, IDC_SHOW_POLLS, IDC_COUNTERS, 0, 9999})
        theComms.OnCommand(m_h, Command(id, kBnClicked));
    EXPECT_TRUE(fake::Serial().opens.empty());
    EXPECT_TRUE(fake::Serial().writes.empty());
    EXPECT_TRUE(Log().empty());
}

}  // namespace
