// Test fixture for the configuration page natively: a fake page on defaults, an open fake
// port, the clock at a chosen tick, and helpers for frames sent and received.
#pragma once
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "app/about_dlg.h"
#include "comms/page/comms_dlg.h"
#include "config/page/config_dlg.h"
#include "genisys/genisys_protocol.h"
#include "genisys/genisys_frame.h"
#include "res/resource.h"
#include "tests/support/fake_browse.h"
#include "tests/support/fakes.h"

using Wire = std::vector<uint8_t>;
using RecordBytes = std::array<uint8_t, ConfigRecord::kSize>;

inline const RecordBytes kDefaultBytes = {0x01, 0x00, 4, 1, 100, 30, 5, 1, 2, 5, 50, 12, 18, 6};

// A configuration frame as the link puts it on the wire (escaping, marker CRC, terminator).
inline Wire ConfigWire(uint8_t header, uint8_t address, const uint8_t *data = nullptr, size_t n = 0)
{
    Wire out(genisys::MaxWireLength(n));
    out.resize(genisys::EncodeFrame(header, address, data, n,
                                    genisys::SEND_CRC | genisys::SEND_CONFIG, out.data()));
    return out;
}

// A 22-byte read response as the decoder hands it on (CRC bytes are not examined here).
inline Wire ReadResponse(uint8_t major, uint8_t minor, uint8_t mode, const RecordBytes &record,
                         uint8_t address = 1)
{
    Wire f = {genisys::kHdrIndication, address, major, minor, mode};
    f.insert(f.end(), record.begin(), record.end());
    f.insert(f.end(), {0x00, 0x00, genisys::kTerminator});
    return f;
}

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::ResetAll();
        fake::ResetBrowse();
        fake::AddConfigControls(page);
        fake::Serial() = fake::SerialState();
        theLink.m_slaveToConfig = 1;
        ASSERT_EQ(theLink.Open("COM1", 9600), 1);
        fake::Serial().opens.clear();
        theConfig = CConfigDlg();
        theConfig.OnInitPage(Handle());
        DeliverPosted();
        fake::SetTick(kStartTick);
    }

    void TearDown() override
    {
        theLink.Close();
        theConfig = CConfigDlg();
        fake::ResetBrowse();
    }

    WindowHandle Handle() { return page.handle(); }
    void DeliverPosted()
    {
        for (int id : page.TakePosted())
            theConfig.OnCommand(Handle(), static_cast<uintptr_t>(id));
    }
    void Command(int id) { theConfig.OnCommand(Handle(), static_cast<uintptr_t>(id)); }
    std::string Text(int id) { return page.Text(id); }
    void Type(int id, const std::string &text) { page.At(id).text = text; }

    RecordBytes Record() const
    {
        RecordBytes out;
        std::memcpy(out.data(), theConfig.m_record.Bytes(), out.size());
        return out;
    }
    void SetRecord(const RecordBytes &bytes)
    {
        std::memcpy(theConfig.m_record.Bytes(), bytes.data(), bytes.size());
    }

    config::Exchange &Exchange() { return theConfig.m_exchange; }

    void Deliver(const Wire &frame)
    {
        theConfig.OnConfigFrame(frame.data(), static_cast<uint8_t>(frame.size()), sys::TickCount());
    }

    std::vector<Wire> TakeWrites()
    {
        std::vector<Wire> out;
        out.swap(fake::Serial().writes);
        return out;
    }

    static constexpr uint32_t kStartTick = 1000000;
    fake::Page page;
};
