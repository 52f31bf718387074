// The receive path and the encoder allocate nothing per byte or per frame: this program
// replaces the global operator new and counts every allocation made while a window is open.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "comms/page/comms_dlg.h"
#include "genisys/genisys_protocol.h"
#include "tests/support/fake_serial.h"
#include "tests/genisys/traffic.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void *Allocate(size_t size)
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

// Counts the allocations made by fn.
template <typename Fn>
long AllocationsDuring(Fn fn)
{
    g_allocations = 0;
    g_counting = true;
    fn();
    g_counting = false;
    return g_allocations.load();
}

}  // namespace

void *operator new(size_t size) { return Allocate(size); }
void *operator new[](size_t size) { return Allocate(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void *operator new[](size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }

TEST(Allocations, TheCounterSeesAnAllocation)
{
    const long seen = AllocationsDuring([] {
        std::unique_ptr<std::string> s(new std::string(100, 'x'));
        ASSERT_EQ(s->size(), 100u);
    });
    EXPECT_GE(seen, 1);
}

TEST(Allocations, ReceivePathAllocatesNothingPerByteOrFrame)
{
    // The program's own path: lines formatted, time-stamped and queued for a window that is
    // not there, configuration frames handed to a page that is not shown.
    theComms.m_hwndPage = nullptr;
    theComms.m_showPolls = true;
    std::mt19937 rng(99);
    const Bytes traffic = MixedTraffic(rng, 3000);
    auto feed = [&traffic] {
        for (size_t at = 0; at < traffic.size(); at += 1024) {
            const size_t n = std::min<size_t>(1024, traffic.size() - at);
            theLink.OnReceive(traffic.data() + at, static_cast<uint32_t>(n));
        }
    };
    feed();  // first use: whatever the C library sets up once is not per frame
    const uint32_t polls = theComms.m_pollCount, acks = theComms.m_ackCount;
    EXPECT_EQ(AllocationsDuring(feed), 0);
    // The traffic really went through the whole path.
    EXPECT_GT(theComms.m_pollCount - polls + theComms.m_ackCount - acks, 300u);
}

TEST(Allocations, EncoderAllocatesNothing)
{
    uint8_t out[genisys::MaxWireLength(14)];
    const uint8_t record[14] = {0xF0, 0xF6, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    size_t total = 0;
    const long seen = AllocationsDuring([&] {
        for (int a = 0; a < 256; ++a)
            for (int flags = 0; flags < 8; ++flags)
                total += genisys::EncodeFrame(0xFC, static_cast<uint8_t>(a), record, 14, flags, out);
    });
    EXPECT_EQ(seen, 0);
    EXPECT_GT(total, 256u * 8 * 17);
}
