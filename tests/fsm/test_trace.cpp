// The transition trace, byte for byte, for the debug masks that select
// different parts of it; and the trace log itself.
#include <gtest/gtest.h>

#include "TestMachine.h"

namespace {

using Lines = std::vector<std::string>;

CPELSignalPtr Sig(int32_t n) {
    return std::make_unique<CPELSignal>(n);
}

const std::string kJobPrefix = "*F: TestMachine                       Job: ";
const std::string kDispatchStart =
    "\n\n*F: TestMachine  S: INITIALIZE        St:  IDLE            --> RUNNING        ";

TEST(Trace, DispatchAndJobLinesPerMask) {
    struct Case {
        uint8_t mask;
        Lines expected;  // for kStart in IDLE, whose job is JobFirst
    } cases[] = {
        {31, {kDispatchStart, kJobPrefix + "JobFirst"}},
        {4, {"\n\n*F: TestMachine  ", kJobPrefix + "JobFirst"}},
        {1, {"\n\n*F: TestMachine  St:  IDLE            --> RUNNING        "}},
        {2, {"\n\n*F: TestMachine  S: INITIALIZE        "}},
        {32, {"\n\n*F: TestMachine  "}},
    };
    for (const auto& c : cases) {
        TraceCaptureGuard capture;
        LogTrace trace("", 0);
        CTestFsm fsm(&trace, c.mask);
        CPELSignalPtr s = Sig(CTestFsm::kStart);
        fsm.Dispatch(s);
        EXPECT_EQ(capture.Lines(), c.expected) << int(c.mask);
    }
}

TEST(Trace, NoTraceLogMeansNoOutput) {
    TraceCaptureGuard capture;
    CTestFsm fsm(nullptr, 31);
    CPELSignalPtr s = Sig(CTestFsm::kStart);
    fsm.Dispatch(s);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(Trace, DefaultRowNamesAndLongMachineName) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    CTestFsm fsm(&trace, 3, CTestFsm::RUNNING, "TestMachineLong");
    CPELSignalPtr unknown = Sig(59999);
    fsm.Dispatch(unknown);
    CPELSignalPtr five = Sig(50005);
    fsm.Dispatch(five);
    EXPECT_EQ(capture.Lines(),
              (Lines{"\n\n*F: TestMachineL S: 59999             ASt: RUNNING         --> IDLE  "
                     "         ",
                     "\n\n*F: TestMachineL S: ZQPEL_5           ASt: IDLE            --> IDLE  "
                     "         "}));
}

TEST(Trace, TimerAndDataLines) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    CTestFsm fsm(&trace, 16 | 8);
    fsm.StartTimer(54004, 4000);
    fsm.StopTimer(54004);
    fsm.TraceData("\n\tERROR: %s %d", "text", 5);
    fsm.TraceJob("not shown");
    EXPECT_EQ(capture.Lines(),
              (Lines{"*F: TestMachine                       T+:  INIT_TIMEOUT       Delay: 4000",
                     "*F: TestMachine                       T-:  INIT_TIMEOUT       Delay: 0",
                     "*F: TestMachine                       Data: \n\tERROR: text 5"}));
}

TEST(Trace, JobAndDataLinesAreCut) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    CTestFsm fsm(&trace, 31);
    const std::string longText(5000, 'j');
    fsm.TraceJob("%s", longText.c_str());
    fsm.TraceData("%s", longText.c_str());
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 511u);
    EXPECT_EQ(lines[0].substr(0, kJobPrefix.size()), kJobPrefix);
    EXPECT_EQ(lines[1].size(), 1999u);
}

TEST(Trace, ExternalQueueLineFromTheEleventhPostWhateverTheMask) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    CTestFsm fsm(&trace, 32);  // not started: the queue only grows
    for (int i = 0; i < 10; ++i) fsm.PutSignal(Sig(CTestFsm::kStay));
    EXPECT_TRUE(capture.Lines().empty());
    fsm.PutSignal(Sig(51000));
    fsm.PutSignal(Sig(54045));
    fsm.PutSignal(Sig(0), false);  // front posts are never reported
    EXPECT_EQ(capture.Lines(),
              (Lines{"\n*ExternalQ Input: ZQPEL_1000. Queue size: 11\n",
                     "\n*ExternalQ Input: LOGGER_START_TIMEOUT. Queue size: 12\n"}));
}

}  // namespace
