// The controller's transition table, row by row: every signal of the table
// (and one it does not know) dispatched in every state, with the next state
// and the job read back from the trace. Also the table's shape.
#include <DBoperations.h>
#include <LogTrace.h>
#include <Messages.h>
#include <SuiteDb.h>
#include <TraceCapture.h>
#include <ZORControl.h>
#include <gtest/gtest.h>

#include <sstream>

#include "ControlTestSupport.h"

namespace {

using namespace controltest;

// One row per signal, one column per state: next state and job, or empty
// where the state has no row (its default applies). Transcribed as the
// design states it, with two settled points: sentences 76 to 78 leave the
// controller in SUPERVISE, and of the two rows for 54045 in WAIT_TIDESTART
// only the first can ever fire.
struct MatrixRow {
    int32_t signal;
    const char* cells[7];
};
// clang-format off
const MatrixRow kMatrix[] = {
    // signal  START_HANDL / WAIT_HANDL_COMPL / SUPERVISE / WAIT_TIDESTART / WAIT_SSVSTART / STATE_TERMINATE / DBERROR
    {59100, {"1 JobRelayCommandAll", "2 JobRelayCommandAll", "3 JobRelayCommandAll", "4 JobRelayCommandAll", "5 JobRelayCommandAll", "", ""}},
    {58011, {"1 JobRelayCommandAll", "2 JobRelayCommandAll", "3 JobRelayCommandAll", "4 JobRelayCommandAll", "5 JobRelayCommandAll", "", ""}},
    {58012, {"1 JobRelayCommandAll", "2 JobRelayCommandAll", "3 JobRelayCommandAll", "4 JobRelayCommandAll", "5 JobRelayCommandAll", "", ""}},
    {54004, {"1 Save", "3 JobBeginSuperv", "3 JobBeginSuperv", "", "", "", ""}},
    {54002, {"2 JobInitHandl", "", "", "", "", "", ""}},
    {50005, {"1 Save", "2 Save", "3 JobRelayCommand", "4 Save", "5 Save", "", ""}},
    {50013, {"1 Save", "2 Save", "1 JobStartHandl", "4 Save", "5 Save", "", ""}},
    {50020, {"1 JobRelayCommand", "2 JobRelayCommand", "3 JobRelayCommand", "4 JobRelayCommand", "", "", ""}},
    {50021, {"1 JobRelayCommand", "2 JobRelayCommand", "3 JobRelayCommand", "4 JobRelayCommand", "", "", ""}},
    {50022, {"1 JobRelayCommand", "2 JobRelayCommand", "3 JobRelayCommand", "4 JobRelayCommand", "", "", ""}},
    {50039, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "", ""}},
    {50024, {"6 JobPrepTerminate", "6 JobPrepTerminate", "6 JobPrepTerminate", "6 JobPrepTerminate", "6 JobPrepTerminate", "6 JobDisregardSig", "3 JobTerminate"}},
    {50032, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "6 JobRelayToGUI", "7 JobRelayToGUI"}},
    {50060, {"1 Save", "2 Save", "3 JobRelayCommand", "4 JobRelayCommand", "5 JobRelayCommand", "", ""}},
    {50061, {"1 Save", "2 Save", "3 JobRelayCommand", "4 JobRelayCommand", "5 JobRelayCommand", "", ""}},
    {50062, {"1 Save", "2 Save", "3 JobRelayCommand", "4 JobRelayCommand", "5 JobRelayCommand", "", ""}},
    {50762, {"1 Save", "2 Save", "3 JobRelayCommand", "4 JobRelayCommand", "5 JobRelayCommand", "", ""}},
    {50066, {"1 Save", "2 Save", "", "", "", "", ""}},
    {50071, {"1 Save", "2 Save", "4 JobPrepRestartTIDE", "4 Save", "5 Save", "", ""}},
    {50072, {"1 Save", "2 Save", "4 JobPrepRestartKEEL", "4 Save", "5 Save", "", ""}},
    {50076, {"1 Save", "2 Save", "3 JobDropSilent", "4 Save", "5 Save", "", ""}},
    {50077, {"1 Save", "2 Save", "3 JobDropSilent", "4 Save", "5 Save", "", ""}},
    {50078, {"1 Save", "2 Save", "3 JobDropSilent", "4 Save", "5 Save", "", ""}},
    {50080, {"1 JobNewExternalSV", "2 JobNewExternalSV", "3 JobNewExternalSV", "4 JobNewExternalSV", "5 JobNewExternalSV", "", ""}},
    {50095, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "", ""}},
    {50096, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "", ""}},
    {50100, {"1 JobAliveResp", "2 JobAliveResp", "3 JobAliveResp", "4 JobAliveResp", "5 JobAliveResp", "6 JobAliveResp", ""}},
    {50150, {"1 JobRelayATH", "2 JobRelayATH", "3 JobRelayATH", "4 JobRelayATH", "5 JobRelayATH", "", ""}},
    {50151, {"1 JobRelayATH", "2 JobRelayATH", "3 JobRelayATH", "4 JobRelayATH", "5 JobRelayATH", "", ""}},
    {50152, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "", ""}},
    {50155, {"1 JobRelayATH", "2 JobRelayATH", "3 JobRelayATH", "4 JobRelayATH", "5 JobRelayATH", "", ""}},
    {50156, {"1 JobRelayATH", "2 JobRelayATH", "3 JobRelayATH", "4 JobRelayATH", "5 JobRelayATH", "", ""}},
    {50157, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "", ""}},
    {50160, {"1 JobRelayRTCMLogger", "2 JobRelayRTCMLogger", "3 JobRelayRTCMLogger", "4 JobRelayRTCMLogger", "5 JobRelayRTCMLogger", "", ""}},
    {50161, {"1 JobRelayRTCMLogger", "2 JobRelayRTCMLogger", "3 JobRelayRTCMLogger", "4 JobRelayRTCMLogger", "5 JobRelayRTCMLogger", "", ""}},
    {50162, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "", ""}},
    {50170, {"1 JobRelaySRHLogger", "2 JobRelaySRHLogger", "3 JobRelaySRHLogger", "4 JobRelaySRHLogger", "5 JobRelaySRHLogger", "", ""}},
    {50171, {"1 JobRelaySRHLogger", "2 JobRelaySRHLogger", "3 JobRelaySRHLogger", "4 JobRelaySRHLogger", "5 JobRelaySRHLogger", "", ""}},
    {50172, {"1 JobRelayToGUI", "2 JobRelayToGUI", "3 JobRelayToGUI", "4 JobRelayToGUI", "5 JobRelayToGUI", "", ""}},
    {50176, {"1 JobRelayIMULogger", "2 JobRelayIMULogger", "3 JobRelayIMULogger", "4 JobRelayIMULogger", "5 JobRelayIMULogger", "", ""}},
    {50177, {"1 JobRelayIMULogger", "2 JobRelayIMULogger", "3 JobRelayIMULogger", "4 JobRelayIMULogger", "5 JobRelayIMULogger", "", ""}},
    {50178, {"1 JobRelayVMBLogger", "2 JobRelayVMBLogger", "3 JobRelayVMBLogger", "4 JobRelayVMBLogger", "5 JobRelayVMBLogger", "", ""}},
    {50179, {"1 JobRelayVMBLogger", "2 JobRelayVMBLogger", "3 JobRelayVMBLogger", "4 JobRelayVMBLogger", "5 JobRelayVMBLogger", "", ""}},
    {50180, {"1 JobRelaySPOLogger", "2 JobRelaySPOLogger", "3 JobRelaySPOLogger", "4 JobRelaySPOLogger", "5 JobRelaySPOLogger", "", ""}},
    {50181, {"1 JobRelaySPOLogger", "2 JobRelaySPOLogger", "3 JobRelaySPOLogger", "4 JobRelaySPOLogger", "5 JobRelaySPOLogger", "", ""}},
    {51120, {"1 Save", "2 Save", "3 JobHandleRemote", "4 Save", "5 JobHandleRemote", "", ""}},
    {50702, {"1 Save", "2 Save", "3 JobTermAllHandl", "4 Save", "5 Save", "", ""}},
    {50471, {"1 Save", "2 Save", "3 JobUpdateSubscription", "4 JobUpdateSubscription", "5 JobUpdateSubscription", "", ""}},
    {50473, {"1 Save", "2 Save", "3 JobRelayLogging", "4 JobRelayLogging", "5 JobRelayLogging", "", ""}},
    {50474, {"1 Save", "2 Save", "3 JobRelayLogging", "4 JobRelayLogging", "5 JobRelayLogging", "", ""}},
    {50475, {"1 Save", "2 Save", "3 JobRelayLogging", "4 JobRelayLogging", "5 JobRelayLogging", "", ""}},
    {54003, {"", "3 JobBeginSuperv", "", "", "", "", ""}},
    {50038, {"", "2 Save", "", "", "", "", ""}},
    {54005, {"", "3 JobHandlTerm", "3 JobHandlTerm", "", "", "6 JobHandlerTermResp", ""}},
    {50006, {"", "", "3 JobRelayCommand", "", "", "", ""}},
    {50018, {"", "", "3 JobRelayCommand", "4 Save", "5 Save", "", ""}},
    {50019, {"", "", "3 JobRelayCommand", "4 Save", "5 Save", "", ""}},
    {54037, {"", "", "", "4 JobRestartTide", "", "", ""}},
    {54038, {"", "", "", "3 JobDisregardSig", "", "", ""}},
    {54036, {"", "", "", "3 JobTideStartTimeout", "", "", ""}},
    {54040, {"", "", "", "4 JobRestartKeel", "", "", ""}},
    {54041, {"", "", "", "3 JobDisregardSig", "", "", ""}},
    {54039, {"", "", "", "3 JobKeelStartTimeout", "", "", ""}},
    {54045, {"", "", "", "4 JobDropSilent", "", "", ""}},
    {54046, {"", "", "", "3 JobDisregardSig", "", "", ""}},
    {54048, {"", "", "", "4 JobDropSilent", "", "", ""}},
    {54049, {"", "", "", "3 JobDisregardSig", "", "", ""}},
    {54047, {"", "", "", "3 JobDropSilent", "", "", ""}},
    {54051, {"", "", "", "4 JobDropSilent", "", "", ""}},
    {54052, {"", "", "", "3 JobDisregardSig", "", "", ""}},
    {54050, {"", "", "", "3 JobDropSilent", "", "", ""}},
    {54022, {"", "", "", "", "3 JobDisregardSig", "", ""}},
    {54014, {"", "", "", "", "", "6 JobTerminate", ""}},
    {54013, {"", "", "", "", "", "6 JobTerminate", ""}},
};
// clang-format on

const char* const kStateNames[] = {"START_HANDL",    "WAIT_HANDL_COMPL", "SUPERVISE",
                                   "WAIT_TIDESTART", "WAIT_SSVSTART",    "STATE_TERMINATE",
                                   "DBERROR"};
const char* const kDefaultJobs[] = {"JobError", "JobError",        "JobError",       "Save",
                                    "Save",     "JobDisregardSig", "JobDisregardSig"};
// Jobs that write no job trace line.
bool Silent(const std::string& job) {
    return job == "JobDropSilent" || job == "JobPrepTerminate" || job == "JobTermAllHandl";
}

// A payload fitting the signal: a sentence naming sounder 1302_221 for
// sentence numbers, the datagram forms of the other inputs, none for the
// controller's own signals.
std::string PayloadFor(int32_t signal) {
    if (signal == CZORControl::TIDE) return "$xTIDE,1.25";
    if (signal == CZORControl::NMEA_APB) return "$GPAPB,A,A";
    if (signal == CZORControl::NMEA_XTE) return "$GPXTE,A,A";
    if (signal == CZORControl::R20) return "$ZQR20=1302";
    if (signal >= 50000 && signal < 51000)
        return "$ZQPEL," + std::to_string(signal - 50000) + ",1302_221:1,2,3\n\r";
    return "";
}

struct Observed {
    bool matched = false;
    std::string from, to;
    std::vector<std::string> jobs;  // texts of the job lines, in order
};

Observed Parse(const std::vector<std::string>& lines) {
    Observed o;
    for (const std::string& line : lines) {
        // "St:  <from> --> <to>" or "ASt: <from> --> <to>"
        const size_t st = line.find("St: ");
        const size_t arrow = line.find(" --> ");
        if (o.from.empty() && st != std::string::npos && arrow != std::string::npos) {
            o.matched = st == 0 || line[st - 1] != 'A';
            std::istringstream from(line.substr(st + 4, arrow - st - 4));
            std::istringstream to(line.substr(arrow + 5));
            from >> o.from;
            to >> o.to;
            continue;
        }
        const size_t job = line.find("Job: ");
        if (job != std::string::npos && !o.from.empty()) o.jobs.push_back(line.substr(job + 5));
    }
    return o;
}

TEST(ControlTable, EverySignalInEveryStateGivesTheRowsNextStateAndJob) {
    zortest::SuiteDb suite;  // private TMPDIR and folder; the database stays unused
    CDBoperations db("ctltable");
    CMessages messages;
    messages.setDbOperations(&db);

    std::vector<MatrixRow> rows(std::begin(kMatrix), std::end(kMatrix));
    rows.push_back({50999, {"", "", "", "", "", "", ""}});  // a sentence no state knows
    for (const MatrixRow& row : rows) {
        for (int32_t state = 1; state <= 7; ++state) {
            SCOPED_TRACE("signal " + std::to_string(row.signal) + " in " + kStateNames[state - 1]);
            const std::string cell = row.cells[state - 1];
            int32_t next = state;
            std::string job = kDefaultJobs[state - 1];
            if (!cell.empty()) {
                next = std::stoi(cell.substr(0, 1));
                job = cell.substr(2);
            }

            TraceCapture trace("LogTrace");
            LogTrace log("", 0);
            CControlSetup setup;
            setup.launchProcesses = false;
            setup.pauseAfterStart = false;
            setup.db = &db;
            setup.messages = &messages;
            {
                CZORControl controller("ZORControl", state, &log, 0x0F, setup);
                CZORControl::SignalSlot slot(
                    new CPELSignal(row.signal, CFsmPayload::Copy(PayloadFor(row.signal))));
                controller.Dispatch(slot);
                EXPECT_EQ(controller.CurrentState(), next);
            }
            const Observed seen = Parse(trace.Lines());
            EXPECT_EQ(seen.matched, !cell.empty());
            // The trace prints state names in 15 columns.
            EXPECT_EQ(seen.from, std::string(kStateNames[state - 1]).substr(0, 15));
            EXPECT_EQ(seen.to, std::string(kStateNames[next - 1]).substr(0, 15));
            if (Silent(job)) {
                EXPECT_TRUE(seen.jobs.empty() || seen.jobs[0].rfind("Job", 0) != 0) << seen.jobs[0];
            } else {
                ASSERT_FALSE(seen.jobs.empty());
                EXPECT_EQ(seen.jobs[0], job);
            }
        }
    }
}

TEST(ControlTable, StatesHaveTheirRowCountsAndDefaults) {
    const int32_t counts[] = {51, 53, 53, 65, 48, 6, 2};
    ASSERT_EQ(CZORControl::kStateList.count, 7);
    for (int32_t s = 0; s < 7; ++s) {
        const auto& state = CZORControl::kStateList.states[s];
        EXPECT_STREQ(state.name, kStateNames[s]);
        EXPECT_EQ(state.defaultNext, s + 1);
        EXPECT_EQ(state.rows.count, counts[s]) << state.name;
    }
}

}  // namespace
