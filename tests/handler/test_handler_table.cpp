// The handler's table, row by row and default by default, read from the
// transition trace; and the edge cases of saved signals with the machine
// running on its own threads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "HandlerParsers.h"
#include "HandlerTestSupport.h"

namespace {

using namespace handler_test;
using H = CZORHandl;

const char* const kStateNames[] = {
    "", "ZPEL_IDLE", "ZPEL_DBINIT", "ZPEL_START_HANDL", "ZPEL_ACTIVE", "CLOSEDOWN"};

std::string DispatchLine(bool matched, int32_t from, int32_t to) {
    char line[200];
    std::snprintf(line, sizeof line, "\n\n*F: %-12.12s %s %-15.15s --> %-15.15s", "ZORH_1302_221",
                  matched ? "St: " : "ASt:", kStateNames[from], kStateNames[to]);
    return line;
}

struct Row {
    int32_t state;
    int32_t signal;
    int32_t next;
    const char* job;
};

// The table as the handler must have it.
const Row kRows[] = {
    {H::ZPEL_IDLE, 54008, H::ZPEL_DBINIT, "JobGetProcInfo"},

    {H::ZPEL_DBINIT, 52002, H::ZPEL_START_HANDL, "JobStartHandl"},
    {H::ZPEL_DBINIT, 50018, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_DBINIT, 50019, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_DBINIT, 54005, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_DBINIT, 50081, H::ZPEL_DBINIT, "Save"},
    {H::ZPEL_DBINIT, 50085, H::ZPEL_DBINIT, "Save"},
    {H::ZPEL_DBINIT, 50471, H::ZPEL_DBINIT, "Save"},
    {H::ZPEL_DBINIT, 50473, H::ZPEL_DBINIT, "Save"},
    {H::ZPEL_DBINIT, 50474, H::ZPEL_DBINIT, "Save"},
    {H::ZPEL_DBINIT, 50475, H::ZPEL_DBINIT, "Save"},

    {H::ZPEL_START_HANDL, 54010, H::ZPEL_ACTIVE, "JobStartProcess"},
    {H::ZPEL_START_HANDL, 50005, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50018, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_START_HANDL, 50019, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_START_HANDL, 50020, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50021, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50022, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50039, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 54005, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_START_HANDL, 59100, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 58011, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 58012, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50060, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50061, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50062, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50762, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50081, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50087, H::ZPEL_START_HANDL, "JobPortClosed"},
    {H::ZPEL_START_HANDL, 51120, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50355, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 87, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50471, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50473, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50474, H::ZPEL_START_HANDL, "Save"},
    {H::ZPEL_START_HANDL, 50475, H::ZPEL_START_HANDL, "Save"},

    {H::ZPEL_ACTIVE, 50005, H::ZPEL_ACTIVE, "JobChgSurvey"},
    {H::ZPEL_ACTIVE, 50018, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_ACTIVE, 50019, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_ACTIVE, 50020, H::ZPEL_ACTIVE, "JobPrepLogNewFmt"},
    {H::ZPEL_ACTIVE, 50021, H::ZPEL_ACTIVE, "JobPrepStopNewFmt"},
    {H::ZPEL_ACTIVE, 50022, H::ZPEL_ACTIVE, "JobStopPingNewFmt"},
    {H::ZPEL_ACTIVE, 50031, H::ZPEL_ACTIVE, "JobRelayZORControl"},
    {H::ZPEL_ACTIVE, 50039, H::ZPEL_ACTIVE, "JobRelayZORControl"},
    {H::ZPEL_ACTIVE, 54005, H::CLOSEDOWN, "JobTerminate"},
    {H::ZPEL_ACTIVE, 59100, H::ZPEL_ACTIVE, "JobRelayXDRZ"},
    {H::ZPEL_ACTIVE, 58011, H::ZPEL_ACTIVE, "JobRelayXDRZ"},
    {H::ZPEL_ACTIVE, 58012, H::ZPEL_ACTIVE, "JobRelayXDRZ"},
    {H::ZPEL_ACTIVE, 50060, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50061, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50062, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50762, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50081, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50087, H::ZPEL_ACTIVE, "JobPortClosed"},
    {H::ZPEL_ACTIVE, 51120, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 87, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50471, H::ZPEL_ACTIVE, "JobRelayDRZXDRZ"},
    {H::ZPEL_ACTIVE, 50473, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50474, H::ZPEL_ACTIVE, "JobRelayDRZ"},
    {H::ZPEL_ACTIVE, 50475, H::ZPEL_ACTIVE, "JobRelayDRZ"},
};

// Dispatches one signal to a fresh handler in `state` on this thread and
// returns the trace lines of that dispatch alone.
std::vector<std::string> DispatchOnce(HandlerEnvironment& env, int32_t state, int32_t signal) {
    auto handler = env.MakeHandler("ZORH_1302_221", FSM_TRACE_TRANS | FSM_TRACE_JOB, state);
    env.Capture().Clear();
    CPELSignalPtr slot = HandlerEnvironment::Sentence(signal, "$ZQPEL,0,x:1,0\n\r");
    handler->Dispatch(slot);
    return env.Capture().Lines();
}

TEST(HandlerTable, EveryRow) {
    HandlerEnvironment env;
    for (const Row& row : kRows) {
        SCOPED_TRACE(std::string(kStateNames[row.state]) + " " + std::to_string(row.signal));
        const std::vector<std::string> lines = DispatchOnce(env, row.state, row.signal);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], DispatchLine(true, row.state, row.next));
        EXPECT_EQ(JobLines(lines), std::vector<std::string>{row.job});
    }
}

TEST(HandlerTable, EveryDefault) {
    HandlerEnvironment env;
    // Per state, every number of the table that has no row there, and a few
    // that no state lists (an unmapped datagram among them).
    std::vector<int32_t> numbers = {59999, handler_parse::kNotASentence, 1, 60000};
    for (const Row& row : kRows) numbers.push_back(row.signal);
    for (int32_t state = H::ZPEL_IDLE; state <= H::CLOSEDOWN; ++state) {
        for (int32_t number : numbers) {
            bool listed = false;
            for (const Row& row : kRows)
                listed = listed || (row.state == state && row.signal == number);
            if (listed) continue;
            SCOPED_TRACE(std::string(kStateNames[state]) + " " + std::to_string(number));
            const std::vector<std::string> lines = DispatchOnce(env, state, number);
            ASSERT_FALSE(lines.empty());
            EXPECT_EQ(lines[0], DispatchLine(false, state, state));
            EXPECT_EQ(JobLines(lines), std::vector<std::string>{
                                           state == H::ZPEL_IDLE ? "JobError" : "JobDisregardSig"});
        }
    }
}

// A running handler whose jobs are seen in the trace.
class RunningHandler : public ::testing::Test {
  protected:
    void Start(int32_t state) {
        handler = env.MakeHandler("ZORH_1302_221", FSM_TRACE_TRANS | FSM_TRACE_JOB, state);
        handler->StartFsm(0);
    }
    // Waits (at most 10 s) until the trace holds `count` job lines, and
    // returns them all.
    std::vector<std::string> Jobs(size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<std::string> jobs = JobLines(env.Capture().Lines());
        while (jobs.size() < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            jobs = JobLines(env.Capture().Lines());
        }
        return jobs;
    }
    void ExpectJobs(const std::vector<std::string>& expected) {
        EXPECT_EQ(Jobs(expected.size()), expected);
    }

    HandlerEnvironment env;
    CFakeController controller;
    std::unique_ptr<CZORHandl> handler;
};

TEST_F(RunningHandler, ALogRequestWaitingForTheStartRunsOnceActive) {
    Start(H::ZPEL_START_HANDL);
    handler->PutSignal(HandlerEnvironment::Sentence(50020, "$ZQPEL,20,1302_221:12,0\n\r"));
    handler->PutSignal(HandlerEnvironment::Sentence(50355, "$ZQPEL,355,1302_221\n\r"));
    handler->PutSignal(std::make_unique<CPELSignal>(H::kStartCompl));
    ExpectJobs((std::vector<std::string>{"InitJob", "Save", "Save", "JobStartProcess",
                                         "JobPrepLogNewFmt", "JobDisregardSig"}));
}

TEST_F(RunningHandler, SentenceEightyFiveSavedInDbInitIsDisregardedAfterwards) {
    Start(H::ZPEL_DBINIT);
    handler->PutSignal(HandlerEnvironment::Sentence(50085, "$ZQPEL,85,1302_221\n\r"));
    handler->PutSignal(HandlerEnvironment::Sentence(50020, "$ZQPEL,20,1302_221:12,0\n\r"));
    handler->PutSignal(std::make_unique<CPELSignal>(H::kDbReadCompl));
    ExpectJobs((std::vector<std::string>{"InitJob", "Save", "JobDisregardSig", "JobStartHandl",
                                         "JobDisregardSig"}));
}

TEST_F(RunningHandler, TerminationReachesTheControllerOnce) {
    Start(H::ZPEL_IDLE);
    handler->PutSignal(HandlerEnvironment::InitParam(&controller, 7, 7));  // no rows for 7_7
    ASSERT_TRUE(controller.WaitFor(H::kTerminated));
    handler->PutSignal(HandlerEnvironment::Sentence(50018, "$ZQPEL,18,7_7\n\r"));
    handler->PutSignal(HandlerEnvironment::Sentence(50019, "$ZQPEL,19,7_7\n\r"));
    ExpectJobs({"InitJob", "JobGetProcInfo", "JobTerminate", "JobDisregardSig", "JobDisregardSig"});
    EXPECT_EQ(controller.CountOf(H::kTerminated), 1u);
    for (const auto& p : controller.Posted()) {
        if (p.number == H::kTerminated) {
            EXPECT_EQ(p.sender, handler.get());
        }
    }
    EXPECT_TRUE(controller.AllAtBack());
}

TEST_F(RunningHandler, IdleTakesOnlyInitParam) {
    Start(H::ZPEL_IDLE);
    handler->PutSignal(HandlerEnvironment::Sentence(50020, "$ZQPEL,20,1302_221:12,0\n\r"));
    handler->PutSignal(std::make_unique<CPELSignal>(H::kDbReadCompl));
    ExpectJobs((std::vector<std::string>{"InitJob", "JobError", "JobError"}));
    EXPECT_EQ(env.Capture().Text().find("St:  ZPEL_IDLE       -->"), std::string::npos);
}

}  // namespace
