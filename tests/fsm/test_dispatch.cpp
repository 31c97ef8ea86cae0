// Dispatch of single signals, driven directly on a machine that is not
// started: table lookup, default rows, state changes and slot ownership.
#include <gtest/gtest.h>

#include "TestMachine.h"

namespace {

using Seen = CTestFsm::Seen;

CPELSignalPtr Sig(int32_t n) {
    return std::make_unique<CPELSignal>(n);
}

bool DispatchOne(CTestFsm& fsm, int32_t number) {
    CPELSignalPtr slot = Sig(number);
    return fsm.Dispatch(slot);
}

TEST(Dispatch, TableRowsAndDefaults) {
    struct Case {
        int32_t initial;
        int32_t signal;
        int32_t expectState;
        const char* expectJob;
        bool changed;
    } cases[] = {
        // the first matching row wins; the shadowed second row never fires
        {CTestFsm::IDLE, CTestFsm::kStart, CTestFsm::RUNNING, "JobFirst", true},
        // a same-state row runs its job but is no state change
        {CTestFsm::IDLE, CTestFsm::kStay, CTestFsm::IDLE, "JobRecord", false},
        // no row: the default job and default next state (here: the same)
        {CTestFsm::IDLE, 59999, CTestFsm::IDLE, "JobDefault", false},
        // a default row that changes the state
        {CTestFsm::RUNNING, 59999, CTestFsm::IDLE, "JobDefault", true},
        // a state without rows takes the default for everything
        {CTestFsm::EMPTY, CTestFsm::kStart, CTestFsm::RUNNING, "JobDefault", true},
        {CTestFsm::EMPTY, CTestFsm::kStay, CTestFsm::RUNNING, "JobDefault", true},
    };
    for (const auto& c : cases) {
        CTestFsm fsm(nullptr, 0, c.initial);
        EXPECT_EQ(DispatchOne(fsm, c.signal), c.changed) << c.initial << "/" << c.signal;
        EXPECT_EQ(fsm.CurrentState(), c.expectState) << c.initial << "/" << c.signal;
        ASSERT_EQ(fsm.Log().size(), 1u);
        // the job runs while the old state is still current
        EXPECT_EQ(fsm.Log()[0], (Seen{c.signal, c.initial, c.expectJob}));
    }
}

TEST(Dispatch, InitialStateRunsNoJob) {
    CTestFsm fsm(nullptr, 0, CTestFsm::RUNNING);
    EXPECT_EQ(fsm.CurrentState(), CTestFsm::RUNNING);
    EXPECT_TRUE(fsm.Log().empty());
}

TEST(Dispatch, JobKeepsOrLeavesItsSignal) {
    CTestFsm fsm;
    CPELSignalPtr slot = std::make_unique<CPELSignal>(60005, CFsmPayload::Copy("kept"));
    CPELSignal* raw = slot.get();
    fsm.Dispatch(slot);
    EXPECT_EQ(slot, nullptr);  // taken by the job
    ASSERT_EQ(fsm.kept.get(), raw);
    EXPECT_EQ(fsm.kept->payload.view(), "kept");

    CPELSignalPtr other = Sig(CTestFsm::kStay);
    fsm.Dispatch(other);
    EXPECT_NE(other, nullptr);  // left for the framework to release
}

TEST(Dispatch, ThrowingJobIsTracedAndStateStillAdvances) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    CTestFsm fsm(&trace, 31);
    EXPECT_TRUE(DispatchOne(fsm, CTestFsm::kThrow));
    EXPECT_NE(capture.Text().find("\n\tERROR: job for 60003 in state IDLE threw: boom"),
              std::string::npos)
        << capture.Text();
    EXPECT_EQ(fsm.CurrentState(), CTestFsm::RUNNING);
    EXPECT_TRUE(DispatchOne(fsm, 59999));  // RUNNING default: back to IDLE
}

// A machine whose table names states that do not exist.
class CBadFsm : public CApplFsm<CBadFsm, CPELSignal> {
  public:
    CBadFsm(LogTrace* trace, int32_t initial) : CApplFsm("BadMachine", initial, trace, 31) {}
    void JobNop(SignalSlot&) {}
    static const Row s_rows[];
    static const State s_states[];
    static const StateList kStateList;
};
// clang-format off
const CBadFsm::Row CBadFsm::s_rows[] = {
    // signal  next  job
    {1,        7,    &CBadFsm::JobNop},
    {2,        2,    &CBadFsm::JobNop},
};
const CBadFsm::State CBadFsm::s_states[] = {
    // name    default next  default job        rows
    {"ONE",    0,            &CBadFsm::JobNop,  Rows(s_rows)},
    {"TWO",    1,            &CBadFsm::JobNop,  NoRows()},
};
// clang-format on
const CBadFsm::StateList CBadFsm::kStateList = States(CBadFsm::s_states);

TEST(Dispatch, OutOfRangeStatesAreReportedAndNeverEntered) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    CBadFsm fsm(&trace, 9);  // initial state out of range too
    EXPECT_EQ(fsm.CurrentState(), 1);
    const std::string text = capture.Text();
    EXPECT_NE(text.find("signal 1: next state 7 out of range 1..2"), std::string::npos) << text;
    EXPECT_NE(text.find("signal 0: next state 0 out of range 1..2"), std::string::npos) << text;
    EXPECT_NE(text.find("initial state 9 out of range"), std::string::npos) << text;

    CPELSignalPtr s1 = Sig(1);
    EXPECT_FALSE(fsm.Dispatch(s1));
    EXPECT_EQ(fsm.CurrentState(), 1);
    CPELSignalPtr s3 = Sig(3);  // default row, next state 0
    EXPECT_FALSE(fsm.Dispatch(s3));
    EXPECT_EQ(fsm.CurrentState(), 1);
    CPELSignalPtr s2 = Sig(2);
    EXPECT_TRUE(fsm.Dispatch(s2));
    EXPECT_EQ(fsm.CurrentState(), 2);
}

}  // namespace
