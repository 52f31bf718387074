// libFuzzer target for the configuration page. The first byte picks what the rest is: the
// contents of a file to open, texts typed into the page, or a configuration frame from the
// line. Whatever comes in, the record taken from the page must lie in range and be stable
// under a second round trip; a file is taken only when exactly 14 bytes long; a crash,
// sanitizer report or broken rule aborts.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "config/config_fields.h"
#include "genisys/genisys_protocol.h"
#include "res/resource.h"
#include "tests/support/fake_browse.h"
#include "tests/support/fakes.h"

namespace {

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_config: %s\n", what);
        std::abort();
    }
}

WindowHandle Page()
{
    static fake::Page *page = [] {
        auto *p = new fake::Page;
        fake::AddConfigControls(*p);
        theConfig.OnInitPage(p->handle());
        p->TakePosted();
        theLink.Open("COM1", 9600);
        return p;
    }();
    return page->handle();
}

const std::string &ScratchPath()
{
    static const std::string path = [] {
        std::atexit([] { std::remove(ScratchPath().c_str()); });
        return "/tmp/fuzz_config." + std::to_string(getpid()) + ".klp";
    }();
    return path;
}

ConfigRecord Taken()
{
    theConfig.ControlsToRecord(Page());
    return theConfig.m_record;
}

// The page's stored ranges, byte by byte, as the record's table gives them: literal, so
// that a wrong range in the field table cannot move the check with it.
const int kLow[ConfigRecord::kSize] = {0, 0, 1, 1, 10, 1, 3, 0, 0, 3, 2, 10, 0, 0};
const int kHigh[ConfigRecord::kSize] = {255, 1, 5, 255, 255, 255, 255, 63, 127, 255, 255, 15, 255, 255};

// The page's record is in range, byte by byte and field by field, and showing it and taking
// it back changes nothing.
void CheckPageRecord()
{
    const ConfigRecord first = Taken();
    for (size_t i = 0; i < ConfigRecord::kSize; ++i)
        Check(first.Bytes()[i] >= kLow[i] && first.Bytes()[i] <= kHigh[i], "a byte out of range");
    for (const config::Field &f : config::kFields)
        Check(config::InStoredRange(f, config::FieldValue(f, first)), f.name);
    Check(config::IsStorable(first), "a byte taken from the page is out of range");
    theConfig.RecordToControls(Page());
    const ConfigRecord second = Taken();
    Check(std::memcmp(first.Bytes(), second.Bytes(), ConfigRecord::kSize) == 0,
          "the record changed on a second round trip");
}

void OpenFile(const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(ScratchPath().c_str(), "wb");
    if (!f)
        return;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    const ConfigRecord before = theConfig.m_record;
    fake::ScriptBrowse(ScratchPath());
    theConfig.OnCommand(Page(), IDC_CFG_OPEN);
    const std::vector<fake::Message> boxes = fake::TakeMessages();
    if (size == ConfigRecord::kSize) {
        Check(boxes.empty(), "a 14-byte file was refused");
        Check(std::memcmp(theConfig.m_record.Bytes(), data, size) == 0, "file bytes were changed");
    } else {
        Check(boxes.size() == 1 && boxes[0].text == "Config file is wrong size",
              "a file of the wrong size was not refused");
        Check(std::memcmp(theConfig.m_record.Bytes(), before.Bytes(), ConfigRecord::kSize) == 0,
              "a refused file changed the record");
    }
    CheckPageRecord();
}

// Ten edit boxes take one text each, split at newlines; the last line sets boxes and lists.
void TypeTexts(const uint8_t *data, size_t size)
{
    static const int kEdits[] = {IDC_CFG_SLAVE_ID, IDC_CFG_GENISYS_TIMEOUT, IDC_CFG_POLL_TIME,
                                 IDC_CFG_RECALL_TIME, IDC_CFG_S2_ID1, IDC_CFG_S2_ID2,
                                 IDC_CFG_S2_TIMEOUT, IDC_CFG_ISD, IDC_CFG_PREAMBLE,
                                 IDC_CFG_POSTAMBLE};
    static const int kChecks[] = {IDC_CFG_RX_EQUALISE, IDC_CFG_V22_TX_HIGH, IDC_CFG_NO_CTRL_BYTE,
                                  IDC_CFG_NRZI, IDC_CFG_SEND_32_BITS, IDC_CFG_SYNC_CLOCK,
                                  IDC_CFG_KEEP_SENDING, IDC_CFG_SECURE_POLLS};
    const std::string all(reinterpret_cast<const char *>(data), size);
    size_t start = 0;
    for (int id : kEdits) {
        const size_t end = std::min(all.find('\n', start), all.size());
        dlg::SetText(Page(), id, all.substr(start, end - start).c_str());
        start = std::min(end + 1, all.size());
    }
    const std::string rest = all.substr(start);
    const uint8_t bits = rest.size() > 0 ? static_cast<uint8_t>(rest[0]) : 0;
    for (int i = 0; i < 8; ++i)
        dlg::SetChecked(Page(), kChecks[i], (bits >> i) & 1);
    const uint8_t sel = rest.size() > 1 ? static_cast<uint8_t>(rest[1]) : 0;
    dlg::SetChecked(Page(), IDC_CFG_S2_ID2_ON, sel & 1);
    dlg::ComboSetSel(Page(), IDC_CFG_GENISYS_BAUD, static_cast<int>((sel >> 1) & 7) - 1);
    dlg::ComboSetSel(Page(), IDC_CFG_PROTOCOL, static_cast<int>((sel >> 4) & 3) - 1);
    dlg::ComboSetSel(Page(), IDC_CFG_DIRECT_BAUD, static_cast<int>((sel >> 6) & 3) * 2 - 1);
    CheckPageRecord();
}

// A frame from the line while both kinds of request are inside their window.
void ReceiveFrame(const uint8_t *data, size_t size)
{
    theConfig.OnCommand(Page(), IDC_CFG_READ);
    theConfig.OnCommand(Page(), IDC_CFG_WRITE);
    const ConfigRecord before = theConfig.m_record;
    theConfig.OnConfigFrame(data, static_cast<uint8_t>(size), sys::TickCount());
    // Only a read response from the address asked answers the read.
    const bool readResponse = size == 22 && data[0] == 0xF2 &&
                              data[1] == (theLink.m_slaveToConfig.load() & 0xFF);
    const uint8_t *expected = readResponse ? data + 5 : before.Bytes();
    Check(std::memcmp(theConfig.m_record.Bytes(), expected, ConfigRecord::kSize) == 0,
          "the record does not follow the frame");
    CheckPageRecord();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    Page();
    theConfig.OnCommand(Page(), IDC_CFG_DEFAULT);
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 0 && size <= 64)
        OpenFile(data, size);
    else if (mode == 1)
        TypeTexts(data, size);
    else if (mode == 2 && size >= 1 && size <= 128)  // the decoder hands on at most 128 bytes
        ReceiveFrame(data, size);
    std::lock_guard<std::mutex> lock(fake::SerialMutex());
    fake::Serial().writes.clear();
    fake::TakeMessages();
    fake::TakeBrowseCalls();
    return 0;
}
