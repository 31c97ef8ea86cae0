// One-shot timers: expiry order, passes, duplicates, cancellation. Bounds on
// time are generous on purpose: only order and "not early" are exact.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestMachine.h"

namespace {

using Clock = std::chrono::steady_clock;
using Numbers = std::vector<int32_t>;
using std::chrono::milliseconds;

// Timer signals: in IDLE they reach the default job (JobDefault).
constexpr int32_t kT1 = 54004, kT2 = 54007, kT3 = 54016;

TEST(Timers, ExpiriesArriveInDeadlineOrderAndNeverEarly) {
    CTestFsm fsm;
    ASSERT_EQ(fsm.StartFsm(0), 0);
    auto start = Clock::now();
    fsm.hook = [](CTestFsm& m) {
        m.StartTimer(kT1, 500);
        m.StartTimer(kT2, 0);
        m.StartTimer(kT3, 200);
    };
    fsm.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kHook));
    ASSERT_TRUE(fsm.WaitForJobs(4, 10000));
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kHook, kT2, kT3, kT1}));
    // 500 ms runs out on the 6th pass: at least five 100 ms sleeps.
    EXPECT_GE(elapsed, milliseconds(500));
    EXPECT_LT(elapsed, milliseconds(5000));
    for (const auto& seen : fsm.Log()) EXPECT_EQ(seen.state, CTestFsm::IDLE);
}

TEST(Timers, ZeroDelayFiresOnTheNextPassWithPayloadAndNoSender) {
    CTestFsm fsm;
    ASSERT_EQ(fsm.StartFsm(0), 0);
    fsm.hook = [](CTestFsm& m) { m.StartTimer(60005, 0, CFsmPayload::Copy("tp")); };
    fsm.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kHook));
    ASSERT_TRUE(fsm.WaitForJobs(2, 2000));
    CPELSignal* kept = fsm.Kept();  // 60005 is kept by JobKeep
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->GetSignalNo(), 60005);
    EXPECT_TRUE(kept->fromTimer);
    EXPECT_EQ(kept->sender, nullptr);
    EXPECT_EQ(kept->payload.view(), "tp");
}

TEST(Timers, TwoStartsGiveTwoExpiriesAndOneStopCancelsBoth) {
    CTestFsm fsm;
    ASSERT_EQ(fsm.StartFsm(0), 0);
    fsm.hook = [](CTestFsm& m) {
        m.StartTimer(kT1, 100);
        m.StartTimer(kT1, 100);
        m.StartTimer(kT2, 300);
        m.StartTimer(kT2, 300);
        m.StopTimer(kT2);
    };
    fsm.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kHook));
    ASSERT_TRUE(fsm.WaitForJobs(3, 5000));
    std::this_thread::sleep_for(milliseconds(700));  // kT2 would have run out by now
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kHook, kT1, kT1}));
    EXPECT_EQ(fsm.GetTimer().Pending(), 0u);
}

TEST(Timers, StopPurgesAnExpiryAlreadyQueuedButNotDispatched) {
    CTestFsm fsm;
    ASSERT_EQ(fsm.StartFsm(0), 0);
    bool queued = false;
    fsm.hook = [&](CTestFsm& m) {
        m.StartTimer(kT1, 0);
        // Still inside the job: wait until the expiry sits in the internal queue.
        auto deadline = Clock::now() + milliseconds(3000);
        while (m.Input().InternalSize() == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));
        queued = m.Input().InternalSize() == 1;
        m.StopTimer(kT1);
    };
    fsm.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kHook));
    fsm.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kStay));
    ASSERT_TRUE(fsm.WaitForJobs(2, 5000));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_TRUE(queued);
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kHook, CTestFsm::kStay}));
}

TEST(Timers, ExpiryOvertakesExternalSignalsWaitingWhenItRunsOut) {
    CTestFsm fsm;
    ASSERT_EQ(fsm.StartFsm(0), 0);
    fsm.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kBlock));
    ASSERT_TRUE(fsm.gate.WaitUntilBlocked());
    // While the worker is busy: an external signal first, then a timer that
    // runs out before the worker is free again.
    fsm.PutSignal(std::make_unique<CPELSignal>(CTestFsm::kStay));
    fsm.StartTimer(kT1, 0);
    auto deadline = Clock::now() + milliseconds(3000);
    while (fsm.Input().InternalSize() == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(5));
    fsm.gate.Open();
    ASSERT_TRUE(fsm.WaitForJobs(3, 5000));
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kBlock, kT1, CTestFsm::kStay}));
}

TEST(Timers, PassArithmetic) {
    // Without threads: drive the passes by hand. A delay d runs out on pass
    // d / 100 + 1.
    struct Case {
        int32_t delay;
        int pass;
    } cases[] = {{0, 1}, {99, 1}, {100, 2}, {250, 3}, {4000, 41}};
    for (const auto& c : cases) {
        CTestFsm fsm;
        fsm.StartTimer(kT1, c.delay);
        int pass = 0;
        while (fsm.GetTimer().Pass() == 0 && pass < 100) ++pass;
        EXPECT_EQ(pass + 1, c.pass) << c.delay;
        EXPECT_EQ(fsm.Input().InternalSize(), 1u);
        // each expiry is followed by a wake-up at the front of the external queue
        EXPECT_EQ(fsm.Input().ExternalSize(), 1u);
    }
}

}  // namespace
