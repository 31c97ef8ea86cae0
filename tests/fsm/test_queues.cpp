// The running machine: queue priorities, saved signals, wake-ups, teardown.
// A job that waits at the test's gate keeps the worker busy while the test
// fills the queues, so the order of handling is fully determined.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestMachine.h"

namespace {

using Numbers = std::vector<int32_t>;

CPELSignalPtr Sig(int32_t n) {
    return std::make_unique<CPELSignal>(n);
}

// Starts the machine and parks its worker in JobBlock.
void StartBlocked(CTestFsm& fsm) {
    ASSERT_EQ(fsm.StartFsm(0), 0);
    fsm.PutSignal(Sig(CTestFsm::kBlock));
    ASSERT_TRUE(fsm.gate.WaitUntilBlocked());
}

TEST(Queues, InitJobRunsOnceSynchronously) {
    CTestFsm fsm;
    EXPECT_EQ(fsm.StartFsm(0), 0);
    EXPECT_EQ(fsm.initJobs, 1);
    EXPECT_EQ(fsm.StartFsm(0), -1);  // a second start is refused
    EXPECT_EQ(fsm.initJobs, 1);
}

TEST(Queues, FrontPostOvertakesOlderExternalSignals) {
    CTestFsm fsm;
    StartBlocked(fsm);
    fsm.PutSignal(Sig(CTestFsm::kStay));
    fsm.PutSignal(Sig(59001));
    fsm.PutSignal(Sig(59002), false);
    fsm.gate.Open();
    ASSERT_TRUE(fsm.WaitForJobs(4));
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kBlock, 59002, CTestFsm::kStay, 59001}));
}

TEST(Queues, InternalSignalsComeBeforeWaitingExternalOnes) {
    CTestFsm fsm;
    StartBlocked(fsm);
    fsm.PutSignal(Sig(CTestFsm::kPost3));
    fsm.PutSignal(Sig(59001));
    fsm.gate.Open();
    ASSERT_TRUE(fsm.WaitForJobs(6));
    EXPECT_EQ(fsm.Numbers(),
              (Numbers{CTestFsm::kBlock, CTestFsm::kPost3, 60021, 60022, 60023, 59001}));
}

TEST(Queues, SavedSignalsReturnInOrderAheadOfEverythingAfterAStateChange) {
    CTestFsm fsm;
    StartBlocked(fsm);
    fsm.PutSignal(Sig(CTestFsm::kSaveA));
    fsm.PutSignal(Sig(CTestFsm::kSaveB));
    fsm.PutSignal(Sig(CTestFsm::kStay));   // same-state row: the saved stay saved
    fsm.PutSignal(Sig(CTestFsm::kStart));  // IDLE -> RUNNING: they come back
    fsm.gate.Open();
    // kStart's job sees nothing of the saved; then A, B in saving order, handled
    // by RUNNING's rows.
    ASSERT_TRUE(fsm.WaitForJobs(5));
    auto log = fsm.Log();
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kBlock, CTestFsm::kStay, CTestFsm::kStart,
                                      CTestFsm::kSaveA, CTestFsm::kSaveB}));
    EXPECT_EQ(log[3], (CTestFsm::Seen{CTestFsm::kSaveA, CTestFsm::RUNNING, "JobRecord"}));
    EXPECT_EQ(fsm.Input().SavedSize(), 0u);
}

TEST(Queues, SavedSignalsGoAheadOfInternalSignalsPostedByTheChangingJob) {
    // The saved signals are put at the front of the internal queue after the
    // dispatch, so they precede what the changing job itself posted.
    CTestFsm fsm(nullptr, 0, CTestFsm::RUNNING);
    StartBlocked(fsm);  // RUNNING, blocked
    fsm.hook = [](CTestFsm& m) { m.PutInternal(std::make_unique<CPELSignal>(60030)); };
    fsm.PutSignal(Sig(59000));             // RUNNING default row: -> IDLE
    fsm.PutSignal(Sig(CTestFsm::kSaveA));  // saved in IDLE
    fsm.PutSignal(Sig(CTestFsm::kSaveB));  // saved in IDLE
    fsm.PutSignal(Sig(CTestFsm::kStart));  // IDLE -> RUNNING, its job posts 60030
    fsm.gate.Open();
    ASSERT_TRUE(fsm.WaitForJobs(6));
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kBlock, 59000, CTestFsm::kStart, CTestFsm::kSaveA,
                                      CTestFsm::kSaveB, 60030}));
}

TEST(Queues, WakeUpIsNeverDispatchedNorTraced) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    CTestFsm fsm(&trace, 31);
    ASSERT_EQ(fsm.StartFsm(0), 0);
    fsm.PutSignal(Sig(-1));
    fsm.PutSignal(Sig(-1), false);
    fsm.PutSignal(Sig(CTestFsm::kStay));
    ASSERT_TRUE(fsm.WaitForJobs(1));
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kStay}));
    EXPECT_EQ(capture.Text().find("_TIMEHANDL"), std::string::npos);
}

TEST(Queues, SignalsPostedBeforeTheStartWaitForIt) {
    CTestFsm fsm;
    fsm.PutSignal(Sig(CTestFsm::kStay));
    ASSERT_EQ(fsm.StartFsm(0), 0);
    ASSERT_TRUE(fsm.WaitForJobs(1));
    EXPECT_EQ(fsm.Numbers(), (Numbers{CTestFsm::kStay}));
}

TEST(Queues, ConcurrentPostersLoseNothing) {
    CTestFsm fsm(nullptr, 0, CTestFsm::IDLE);
    ASSERT_EQ(fsm.StartFsm(0), 0);
    constexpr int kPerThread = 2000;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) fsm.PutSignal(Sig(CTestFsm::kStay));
        });
    }
    for (auto& p : posters) p.join();
    ASSERT_TRUE(fsm.WaitForJobs(4 * kPerThread, 20000));
    EXPECT_EQ(fsm.Log().size(), 4u * kPerThread);
}

TEST(Queues, TeardownReleasesEveryQueuedSignalAndTimer) {
    // Under ASan this fails on any leaked signal, payload or timer record.
    CTestFsm fsm;
    CPELSignalPtr saved = std::make_unique<CPELSignal>(CTestFsm::kSaveA, CFsmPayload::Copy("s"));
    fsm.Dispatch(saved);
    fsm.PutSignal(std::make_unique<CPELSignal>(1, CFsmPayload::Copy("external")));
    fsm.PutSignal(std::make_unique<CPELSignal>(2, CFsmPayload::Copy("front")), false);
    fsm.PutInternal(std::make_unique<CPELSignal>(3, CFsmPayload::Copy("internal")));
    fsm.StartTimer(54004, 60000, CFsmPayload::Copy("timer"));
    fsm.StartTimer(54004, 60000);
    EXPECT_EQ(fsm.Input().ExternalSize(), 2u);
    EXPECT_EQ(fsm.Input().InternalSize(), 1u);
    EXPECT_EQ(fsm.Input().SavedSize(), 1u);
    EXPECT_EQ(fsm.GetTimer().Pending(), 2u);
}

TEST(Queues, TeardownOfARunningMachineWithFullQueues) {
    auto fsm = std::make_unique<CTestFsm>();
    StartBlocked(*fsm);
    for (int i = 0; i < 50; ++i)
        fsm->PutSignal(std::make_unique<CPELSignal>(59000 + i, CFsmPayload::Copy("x")));
    fsm->StartTimer(54004, 60000, CFsmPayload::Copy("t"));
    fsm->gate.Open();
    fsm.reset();  // stops the threads, then discards what is left
}

TEST(Queues, StopWhileAJobBlocksGivesUpAfterTheLimitWithoutCrashing) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    auto fsm = std::make_unique<CTestFsm>(&trace, 8);
    StartBlocked(*fsm);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fsm->StopFsm(), -1);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(9));
    EXPECT_NE(capture.Text().find("StopFsm: threads still running after 10 s"), std::string::npos);
    fsm->gate.Open();
    fsm.reset();  // the job returns; destruction waits for it, then cleans up
}

TEST(Queues, StopAndJoinReleasesAMachineWhoseJobEndsWithinTheFurtherWait) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    auto fsm = std::make_unique<CTestFsm>(&trace, 8);
    fsm->SetStopLimits(0, 30);
    StartBlocked(*fsm);
    // The job ends only once the stop's own wait has given up.
    std::thread opener([&] {
        capture.WaitFor("StopFsm: threads still running after 0 s", 20000);
        fsm->gate.Open();
    });
    EXPECT_TRUE(fsm->StopAndJoin());
    opener.join();
    EXPECT_FALSE(fsm->Running());
    EXPECT_TRUE(fsm->StopAndJoin()) << "a stopped machine stays releasable";
}

// The shutdown must end the process: a job that never returns costs the
// machine's clean-up, not the end.
TEST(Queues, AJobThatNeverReturnsLeavesTheDestructorWithinTheLimits) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    auto fsm = std::make_unique<CTestFsm>(&trace, 1, CTestFsm::IDLE, "Stuck");
    fsm->SetStopLimits(1, 1);
    ASSERT_EQ(fsm->StartFsm(0), 0);
    fsm->PutSignal(Sig(CTestFsm::kNever));
    ASSERT_TRUE(fsm->WaitForJobs(1));

    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(fsm->StopAndJoin());
    EXPECT_FALSE(fsm->StopAndJoin()) << "a second call does not wait again";
    fsm.reset();
    const auto waited = std::chrono::steady_clock::now() - start;
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::seconds(10));
    const std::string line =
        "ERROR: machine Stuck: a job still runs 2 s after the stop; the machine is left allocated";
    EXPECT_NE(capture.Text().find("*F: Stuck                             Data: \n\t" + line),
              std::string::npos)
        << capture.Text();
    EXPECT_EQ(err, line + "\n");
}

}  // namespace
