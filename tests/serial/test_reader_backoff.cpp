// The reader's pacing when its device fails: pauses, their bound, and the one stall report.
#include <gtest/gtest.h>

#include <vector>

#include "serial/reader_backoff.h"

namespace {

const ReaderPass kClean{false, false, true};
const ReaderPass kIdleWake{false, false, false};   // a break or line error, nothing to read
const ReaderPass kDeadDevice{true, true, false};   // wait and read both fail
const ReaderPass kCannotWait{true, false, false};  // the driver cannot wait; reads work
const ReaderPass kCannotWaitData{true, false, true};

struct Expect {
    ReaderPass pass;
    uint32_t pauseMs;
    bool report;
};

void RunPasses(const std::vector<Expect> &steps)
{
    ReaderBackoff backoff;
    for (size_t i = 0; i < steps.size(); ++i) {
        const ReaderStep step = backoff.AfterPass(steps[i].pass);
        EXPECT_EQ(step.pauseMs, steps[i].pauseMs) << "pass " << i;
        EXPECT_EQ(step.reportStall, steps[i].report) << "pass " << i;
    }
}

TEST(ReaderBackoff, HealthyTrafficNeverPauses)
{
    RunPasses({{kClean, 0, false}, {kIdleWake, 0, false}, {kClean, 0, false}});
}

TEST(ReaderBackoff, ADeadDevicePausesLongerEachTimeUpToTheBoundAndIsReportedOnce)
{
    RunPasses({{kDeadDevice, 20, false},
         {kDeadDevice, 40, false},
         {kDeadDevice, 80, true},
         {kDeadDevice, 160, false},
         {kDeadDevice, 250, false},
         {kDeadDevice, 250, false},
         {kDeadDevice, 250, false}});
}

TEST(ReaderBackoff, RecoveryEndsTheOutageSoTheNextOneIsReportedAgain)
{
    RunPasses({{kDeadDevice, 20, false},
         {kDeadDevice, 40, false},
         {kDeadDevice, 80, true},
         {kClean, 0, false},
         {kDeadDevice, 20, false},
         {kDeadDevice, 40, false},
         {kDeadDevice, 80, true}});
}

TEST(ReaderBackoff, ADriverThatCannotWaitIsPacedButNeverReportedAsStalled)
{
    std::vector<Expect> steps;
    for (int i = 0; i < 8; ++i)
        steps.push_back({kCannotWait, i < 4 ? 20u << i : 250u, false});
    // Bytes drained after a failed wait: read on at once, and start pacing afresh.
    steps.push_back({kCannotWaitData, 0, false});
    steps.push_back({kCannotWait, 20, false});
    RunPasses(steps);
}

TEST(ReaderBackoff, FailingReadsMustFollowEachOtherToCountAsAStall)
{
    // A pass whose wait failed but whose read worked breaks the run of failing reads.
    RunPasses({{kDeadDevice, 20, false},
         {kDeadDevice, 40, false},
         {kCannotWait, 80, false},
         {kDeadDevice, 160, false},
         {kDeadDevice, 250, false},
         {kDeadDevice, 250, true}});
}

TEST(ReaderBackoff, BytesArrivingDuringAnOutageDoNotEndItWhileReadsStillFail)
{
    ReaderBackoff backoff;
    for (int i = 0; i < 3; ++i)
        backoff.AfterPass(kDeadDevice);
    EXPECT_TRUE(backoff.stalled());
    const ReaderStep step = backoff.AfterPass(ReaderPass{true, true, true});
    EXPECT_EQ(step.pauseMs, 0u) << "bytes flowed: read on at once";
    EXPECT_TRUE(backoff.stalled()) << "the device still reports errors";
    EXPECT_FALSE(backoff.AfterPass(kDeadDevice).reportStall) << "same outage, no second report";
}

}  // namespace
