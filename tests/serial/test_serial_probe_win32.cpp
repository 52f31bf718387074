// The port probe on real devices and files: what opens is present (and left closed), what is
// held or refused is busy, what does not exist is absent.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "serial/serial_probe.h"

namespace {

class SerialProbeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[MAX_PATH];
        ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
        char name[MAX_PATH];
        ASSERT_NE(GetTempFileNameA(dir, "prb", 0, name), 0u);  // creates the file
        m_path = name;
    }

    void TearDown() override { DeleteFileA(m_path.c_str()); }

    std::string m_path;
};

TEST_F(SerialProbeTest, MissingDevicesAndPathsAreAbsent)
{
    for (const char *name : {"\\\\.\\COM250", "COM0", "C:\\no\\such\\dir\\device", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(serial::ProbePort(name), serial::ProbeResult::kAbsent);
    }
}

TEST_F(SerialProbeTest, AFreeDeviceIsPresentAndClosedAgain)
{
    EXPECT_EQ(serial::ProbePort(m_path.c_str()), serial::ProbeResult::kPresent);
    // Opened exclusively by the probe; it must have let go.
    HANDLE h = CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

TEST_F(SerialProbeTest, ADeviceHeldElsewhereIsBusy)
{
    HANDLE held = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(serial::ProbePort(m_path.c_str()), serial::ProbeResult::kBusy);  // sharing violation
    CloseHandle(held);
    EXPECT_EQ(serial::ProbePort(m_path.c_str()), serial::ProbeResult::kPresent);
}

TEST_F(SerialProbeTest, ADeviceThatRefusesAccessIsBusy)
{
    // A directory cannot be opened as a file: access denied, like a port another program holds.
    char dir[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, dir), 0u);
    EXPECT_EQ(serial::ProbePort(dir), serial::ProbeResult::kBusy);
}

}  // namespace
