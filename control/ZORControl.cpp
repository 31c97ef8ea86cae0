#include "ZORControl.h"

#include <AuxProcesses.h>
#include <CommandIntake.h>
#include <DBoperations.h>
#include <GridServer.h>
#include <IoThread.h>
#include <LogTrace.h>
#include <Messages.h>
#include <PortTable.h>
#include <Process.h>
#include <ProcessDatabase.h>
#include <ProcessMessages.h>
#include <Receiver.h>
#include <Sender.h>
#include <log4cplus/logger.h>
#include <unistd.h>

#include <algorithm>
#include <boost/system/system_error.hpp>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <thread>

namespace cs = control_sentences;

namespace {

const std::string kQuitSentence(CZORControl::kTerminateSentence);
const std::string kAliveAnswer = "$ZQPEL,101,\n\r";
const std::string kSsvDataAddress = "127.0.0.1:" + std::to_string(PortOf("SSV_DATA"));

// The sounder types whose sentences a handler serves.
constexpr uint16_t kHandlerTypes[] = {1101, 1102, 1103, 1104, 1201, 1202, 1203, 1301, 1302,
                                      1401, 1501, 1601, 1602, 1603, 1604, 1605, 1701, 1702};

// The operator GUI must not outlive ZOR: killed as the shutdown begins.
const char* const kGuiImage = "PELMainApp.exe";
// Distribution processes still running at the very end: their handlers
// asked them to quit (and waited) first, since a DRZ or XDRZ killed while
// writing raw data may lose it. Only leftovers meet these kills.
const char* const kLeftoverImages[] = {"drzdist.exe", "XDRZ.exe"};

}  // namespace

// clang-format off
const CZORControl::Row CZORControl::s_startHandlRows[] = {
    // signal               next               job
    {TIDE,                  START_HANDL,       &CZORControl::JobRelayCommandAll},
    {NMEA_APB,              START_HANDL,       &CZORControl::JobRelayCommandAll},
    {NMEA_XTE,              START_HANDL,       &CZORControl::JobRelayCommandAll},
    {INIT_TIMEOUT,          START_HANDL,       &CZORControl::Save},
    {STARTED_OK,            WAIT_HANDL_COMPL,  &CZORControl::JobInitHandl},
    {ZQPEL_5,               START_HANDL,       &CZORControl::Save},
    {ZQPEL_13,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_20,              START_HANDL,       &CZORControl::JobRelayCommand},
    {ZQPEL_21,              START_HANDL,       &CZORControl::JobRelayCommand},
    {ZQPEL_22,              START_HANDL,       &CZORControl::JobRelayCommand},
    {ZQPEL_39,              START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_24,              STATE_TERMINATE,   &CZORControl::JobPrepTerminate},
    {ZQPEL_32,              START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_60,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_61,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_62,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_762,             START_HANDL,       &CZORControl::Save},
    {ZQPEL_66,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_71,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_72,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_76,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_77,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_78,              START_HANDL,       &CZORControl::Save},
    {ZQPEL_80,              START_HANDL,       &CZORControl::JobNewExternalSV},
    {ZQPEL_95,              START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_96,              START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_100,             START_HANDL,       &CZORControl::JobAliveResp},
    {ZQPEL_150,             START_HANDL,       &CZORControl::JobRelayATH},
    {ZQPEL_151,             START_HANDL,       &CZORControl::JobRelayATH},
    {ZQPEL_152,             START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_155,             START_HANDL,       &CZORControl::JobRelayATH},
    {ZQPEL_156,             START_HANDL,       &CZORControl::JobRelayATH},
    {ZQPEL_157,             START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_160,             START_HANDL,       &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_161,             START_HANDL,       &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_162,             START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_170,             START_HANDL,       &CZORControl::JobRelaySRHLogger},
    {ZQPEL_171,             START_HANDL,       &CZORControl::JobRelaySRHLogger},
    {ZQPEL_172,             START_HANDL,       &CZORControl::JobRelayToGUI},
    {ZQPEL_176,             START_HANDL,       &CZORControl::JobRelayIMULogger},
    {ZQPEL_177,             START_HANDL,       &CZORControl::JobRelayIMULogger},
    {ZQPEL_178,             START_HANDL,       &CZORControl::JobRelayVMBLogger},
    {ZQPEL_179,             START_HANDL,       &CZORControl::JobRelayVMBLogger},
    {ZQPEL_180,             START_HANDL,       &CZORControl::JobRelaySPOLogger},
    {ZQPEL_181,             START_HANDL,       &CZORControl::JobRelaySPOLogger},
    {R20,                   START_HANDL,       &CZORControl::Save},
    {ZQPEL_702,             START_HANDL,       &CZORControl::Save},
    {ZQPEL_471,             START_HANDL,       &CZORControl::Save},
    {ZQPEL_473,             START_HANDL,       &CZORControl::Save},
    {ZQPEL_474,             START_HANDL,       &CZORControl::Save},
    {ZQPEL_475,             START_HANDL,       &CZORControl::Save},
};

const CZORControl::Row CZORControl::s_waitHandlComplRows[] = {
    // signal               next               job
    {TIDE,                  WAIT_HANDL_COMPL,  &CZORControl::JobRelayCommandAll},
    {NMEA_APB,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayCommandAll},
    {NMEA_XTE,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayCommandAll},
    {INIT_TIMEOUT,          SUPERVISE,         &CZORControl::JobBeginSuperv},
    {ZQPEL_5,               WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_13,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_20,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayCommand},
    {ZQPEL_21,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayCommand},
    {ZQPEL_22,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayCommand},
    {ZQPEL_39,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_24,              STATE_TERMINATE,   &CZORControl::JobPrepTerminate},
    {ZQPEL_32,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_60,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_61,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_62,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_762,             WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_66,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_71,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_72,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_76,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_77,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_78,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_80,              WAIT_HANDL_COMPL,  &CZORControl::JobNewExternalSV},
    {ZQPEL_95,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_96,              WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_100,             WAIT_HANDL_COMPL,  &CZORControl::JobAliveResp},
    {ZQPEL_150,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayATH},
    {ZQPEL_151,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayATH},
    {ZQPEL_152,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_155,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayATH},
    {ZQPEL_156,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayATH},
    {ZQPEL_157,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_160,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_161,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_162,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_170,             WAIT_HANDL_COMPL,  &CZORControl::JobRelaySRHLogger},
    {ZQPEL_171,             WAIT_HANDL_COMPL,  &CZORControl::JobRelaySRHLogger},
    {ZQPEL_172,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayToGUI},
    {ZQPEL_176,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayIMULogger},
    {ZQPEL_177,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayIMULogger},
    {ZQPEL_178,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayVMBLogger},
    {ZQPEL_179,             WAIT_HANDL_COMPL,  &CZORControl::JobRelayVMBLogger},
    {ZQPEL_180,             WAIT_HANDL_COMPL,  &CZORControl::JobRelaySPOLogger},
    {ZQPEL_181,             WAIT_HANDL_COMPL,  &CZORControl::JobRelaySPOLogger},
    {R20,                   WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_702,             WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_471,             WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_473,             WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_474,             WAIT_HANDL_COMPL,  &CZORControl::Save},
    {ZQPEL_475,             WAIT_HANDL_COMPL,  &CZORControl::Save},
    {INIT_COMPL,            SUPERVISE,         &CZORControl::JobBeginSuperv},
    {ZQPEL_38,              WAIT_HANDL_COMPL,  &CZORControl::Save},
    {TERMINATED,            SUPERVISE,         &CZORControl::JobHandlTerm},
};

const CZORControl::Row CZORControl::s_superviseRows[] = {
    // signal               next               job
    {TIDE,                  SUPERVISE,         &CZORControl::JobRelayCommandAll},
    {NMEA_APB,              SUPERVISE,         &CZORControl::JobRelayCommandAll},
    {NMEA_XTE,              SUPERVISE,         &CZORControl::JobRelayCommandAll},
    {INIT_TIMEOUT,          SUPERVISE,         &CZORControl::JobBeginSuperv},
    {ZQPEL_5,               SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_13,              START_HANDL,       &CZORControl::JobStartHandl},
    {ZQPEL_20,              SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_21,              SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_22,              SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_39,              SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_24,              STATE_TERMINATE,   &CZORControl::JobPrepTerminate},
    {ZQPEL_32,              SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_60,              SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_61,              SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_62,              SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_762,             SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_71,              WAIT_TIDESTART,    &CZORControl::JobPrepRestartTIDE},
    {ZQPEL_72,              WAIT_TIDESTART,    &CZORControl::JobPrepRestartKEEL},
    {ZQPEL_76,              SUPERVISE,         &CZORControl::JobDropSilent},  // no wait without an end
    {ZQPEL_77,              SUPERVISE,         &CZORControl::JobDropSilent},
    {ZQPEL_78,              SUPERVISE,         &CZORControl::JobDropSilent},
    {ZQPEL_80,              SUPERVISE,         &CZORControl::JobNewExternalSV},
    {ZQPEL_95,              SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_96,              SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_100,             SUPERVISE,         &CZORControl::JobAliveResp},
    {ZQPEL_150,             SUPERVISE,         &CZORControl::JobRelayATH},
    {ZQPEL_151,             SUPERVISE,         &CZORControl::JobRelayATH},
    {ZQPEL_152,             SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_155,             SUPERVISE,         &CZORControl::JobRelayATH},
    {ZQPEL_156,             SUPERVISE,         &CZORControl::JobRelayATH},
    {ZQPEL_157,             SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_160,             SUPERVISE,         &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_161,             SUPERVISE,         &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_162,             SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_170,             SUPERVISE,         &CZORControl::JobRelaySRHLogger},
    {ZQPEL_171,             SUPERVISE,         &CZORControl::JobRelaySRHLogger},
    {ZQPEL_172,             SUPERVISE,         &CZORControl::JobRelayToGUI},
    {ZQPEL_176,             SUPERVISE,         &CZORControl::JobRelayIMULogger},
    {ZQPEL_177,             SUPERVISE,         &CZORControl::JobRelayIMULogger},
    {ZQPEL_178,             SUPERVISE,         &CZORControl::JobRelayVMBLogger},
    {ZQPEL_179,             SUPERVISE,         &CZORControl::JobRelayVMBLogger},
    {ZQPEL_180,             SUPERVISE,         &CZORControl::JobRelaySPOLogger},
    {ZQPEL_181,             SUPERVISE,         &CZORControl::JobRelaySPOLogger},
    {R20,                   SUPERVISE,         &CZORControl::JobHandleRemote},
    {ZQPEL_702,             SUPERVISE,         &CZORControl::JobTermAllHandl},
    {ZQPEL_471,             SUPERVISE,         &CZORControl::JobUpdateSubscription},
    {ZQPEL_473,             SUPERVISE,         &CZORControl::JobRelayLogging},
    {ZQPEL_474,             SUPERVISE,         &CZORControl::JobRelayLogging},
    {ZQPEL_475,             SUPERVISE,         &CZORControl::JobRelayLogging},
    {TERMINATED,            SUPERVISE,         &CZORControl::JobHandlTerm},
    {ZQPEL_6,               SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_18,              SUPERVISE,         &CZORControl::JobRelayCommand},
    {ZQPEL_19,              SUPERVISE,         &CZORControl::JobRelayCommand},
};

const CZORControl::Row CZORControl::s_waitTidestartRows[] = {
    // signal               next               job
    {TIDE,                  WAIT_TIDESTART,    &CZORControl::JobRelayCommandAll},
    {NMEA_APB,              WAIT_TIDESTART,    &CZORControl::JobRelayCommandAll},
    {NMEA_XTE,              WAIT_TIDESTART,    &CZORControl::JobRelayCommandAll},
    {ZQPEL_5,               WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_13,              WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_20,              WAIT_TIDESTART,    &CZORControl::JobRelayCommand},
    {ZQPEL_21,              WAIT_TIDESTART,    &CZORControl::JobRelayCommand},
    {ZQPEL_22,              WAIT_TIDESTART,    &CZORControl::JobRelayCommand},
    {ZQPEL_39,              WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_24,              STATE_TERMINATE,   &CZORControl::JobPrepTerminate},
    {ZQPEL_32,              WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_60,              WAIT_TIDESTART,    &CZORControl::JobRelayCommand},
    {ZQPEL_61,              WAIT_TIDESTART,    &CZORControl::JobRelayCommand},
    {ZQPEL_62,              WAIT_TIDESTART,    &CZORControl::JobRelayCommand},
    {ZQPEL_762,             WAIT_TIDESTART,    &CZORControl::JobRelayCommand},
    {ZQPEL_71,              WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_72,              WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_76,              WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_77,              WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_78,              WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_80,              WAIT_TIDESTART,    &CZORControl::JobNewExternalSV},
    {ZQPEL_95,              WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_96,              WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_100,             WAIT_TIDESTART,    &CZORControl::JobAliveResp},
    {ZQPEL_150,             WAIT_TIDESTART,    &CZORControl::JobRelayATH},
    {ZQPEL_151,             WAIT_TIDESTART,    &CZORControl::JobRelayATH},
    {ZQPEL_152,             WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_155,             WAIT_TIDESTART,    &CZORControl::JobRelayATH},
    {ZQPEL_156,             WAIT_TIDESTART,    &CZORControl::JobRelayATH},
    {ZQPEL_157,             WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_160,             WAIT_TIDESTART,    &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_161,             WAIT_TIDESTART,    &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_162,             WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_170,             WAIT_TIDESTART,    &CZORControl::JobRelaySRHLogger},
    {ZQPEL_171,             WAIT_TIDESTART,    &CZORControl::JobRelaySRHLogger},
    {ZQPEL_172,             WAIT_TIDESTART,    &CZORControl::JobRelayToGUI},
    {ZQPEL_176,             WAIT_TIDESTART,    &CZORControl::JobRelayIMULogger},
    {ZQPEL_177,             WAIT_TIDESTART,    &CZORControl::JobRelayIMULogger},
    {ZQPEL_178,             WAIT_TIDESTART,    &CZORControl::JobRelayVMBLogger},
    {ZQPEL_179,             WAIT_TIDESTART,    &CZORControl::JobRelayVMBLogger},
    {ZQPEL_180,             WAIT_TIDESTART,    &CZORControl::JobRelaySPOLogger},
    {ZQPEL_181,             WAIT_TIDESTART,    &CZORControl::JobRelaySPOLogger},
    {R20,                   WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_702,             WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_471,             WAIT_TIDESTART,    &CZORControl::JobUpdateSubscription},
    {ZQPEL_473,             WAIT_TIDESTART,    &CZORControl::JobRelayLogging},
    {ZQPEL_474,             WAIT_TIDESTART,    &CZORControl::JobRelayLogging},
    {ZQPEL_475,             WAIT_TIDESTART,    &CZORControl::JobRelayLogging},
    {ZQPEL_18,              WAIT_TIDESTART,    &CZORControl::Save},
    {ZQPEL_19,              WAIT_TIDESTART,    &CZORControl::Save},
    {TERM_TIDE_EXPIRED,     WAIT_TIDESTART,    &CZORControl::JobRestartTide},
    {TIDE_START_COMPL,      SUPERVISE,         &CZORControl::JobDisregardSig},
    {TIDE_START_TIMEOUT,    SUPERVISE,         &CZORControl::JobTideStartTimeout},
    {TERM_KEEL_EXPIRED,     WAIT_TIDESTART,    &CZORControl::JobRestartKeel},
    {KEEL_START_COMPL,      SUPERVISE,         &CZORControl::JobDisregardSig},
    {KEEL_START_TIMEOUT,    SUPERVISE,         &CZORControl::JobKeelStartTimeout},
    {LOGGER_START_TIMEOUT,  WAIT_TIDESTART,    &CZORControl::JobDropSilent},
    {TERM_LOGGER_EXPIRED,   SUPERVISE,         &CZORControl::JobDropSilent},  // shadowed: never fires
    {LOGGER_START_COMPL,    SUPERVISE,         &CZORControl::JobDisregardSig},
    {TERM_BARO_EXPIRED,     WAIT_TIDESTART,    &CZORControl::JobDropSilent},
    {BARO_START_COMPL,      SUPERVISE,         &CZORControl::JobDisregardSig},
    {BARO_START_TIMEOUT,    SUPERVISE,         &CZORControl::JobDropSilent},
    {TERM_GEODI_EXPIRED,    WAIT_TIDESTART,    &CZORControl::JobDropSilent},
    {GEODI_START_COMPL,     SUPERVISE,         &CZORControl::JobDisregardSig},
    {GEODI_START_TIMEOUT,   SUPERVISE,         &CZORControl::JobDropSilent},
};

const CZORControl::Row CZORControl::s_waitSsvstartRows[] = {
    // signal               next               job
    {TIDE,                  WAIT_SSVSTART,     &CZORControl::JobRelayCommandAll},
    {NMEA_APB,              WAIT_SSVSTART,     &CZORControl::JobRelayCommandAll},
    {NMEA_XTE,              WAIT_SSVSTART,     &CZORControl::JobRelayCommandAll},
    {ZQPEL_5,               WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_13,              WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_39,              WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_24,              STATE_TERMINATE,   &CZORControl::JobPrepTerminate},
    {ZQPEL_32,              WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_60,              WAIT_SSVSTART,     &CZORControl::JobRelayCommand},
    {ZQPEL_61,              WAIT_SSVSTART,     &CZORControl::JobRelayCommand},
    {ZQPEL_62,              WAIT_SSVSTART,     &CZORControl::JobRelayCommand},
    {ZQPEL_762,             WAIT_SSVSTART,     &CZORControl::JobRelayCommand},
    {ZQPEL_71,              WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_72,              WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_76,              WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_77,              WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_78,              WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_80,              WAIT_SSVSTART,     &CZORControl::JobNewExternalSV},
    {ZQPEL_95,              WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_96,              WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_100,             WAIT_SSVSTART,     &CZORControl::JobAliveResp},
    {ZQPEL_150,             WAIT_SSVSTART,     &CZORControl::JobRelayATH},
    {ZQPEL_151,             WAIT_SSVSTART,     &CZORControl::JobRelayATH},
    {ZQPEL_152,             WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_155,             WAIT_SSVSTART,     &CZORControl::JobRelayATH},
    {ZQPEL_156,             WAIT_SSVSTART,     &CZORControl::JobRelayATH},
    {ZQPEL_157,             WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_160,             WAIT_SSVSTART,     &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_161,             WAIT_SSVSTART,     &CZORControl::JobRelayRTCMLogger},
    {ZQPEL_162,             WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_170,             WAIT_SSVSTART,     &CZORControl::JobRelaySRHLogger},
    {ZQPEL_171,             WAIT_SSVSTART,     &CZORControl::JobRelaySRHLogger},
    {ZQPEL_172,             WAIT_SSVSTART,     &CZORControl::JobRelayToGUI},
    {ZQPEL_176,             WAIT_SSVSTART,     &CZORControl::JobRelayIMULogger},
    {ZQPEL_177,             WAIT_SSVSTART,     &CZORControl::JobRelayIMULogger},
    {ZQPEL_178,             WAIT_SSVSTART,     &CZORControl::JobRelayVMBLogger},
    {ZQPEL_179,             WAIT_SSVSTART,     &CZORControl::JobRelayVMBLogger},
    {ZQPEL_180,             WAIT_SSVSTART,     &CZORControl::JobRelaySPOLogger},
    {ZQPEL_181,             WAIT_SSVSTART,     &CZORControl::JobRelaySPOLogger},
    {R20,                   WAIT_SSVSTART,     &CZORControl::JobHandleRemote},
    {ZQPEL_702,             WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_471,             WAIT_SSVSTART,     &CZORControl::JobUpdateSubscription},
    {ZQPEL_473,             WAIT_SSVSTART,     &CZORControl::JobRelayLogging},
    {ZQPEL_474,             WAIT_SSVSTART,     &CZORControl::JobRelayLogging},
    {ZQPEL_475,             WAIT_SSVSTART,     &CZORControl::JobRelayLogging},
    {ZQPEL_18,              WAIT_SSVSTART,     &CZORControl::Save},
    {ZQPEL_19,              WAIT_SSVSTART,     &CZORControl::Save},
    {SSV_START_COMPL,       SUPERVISE,         &CZORControl::JobDisregardSig},
};

const CZORControl::Row CZORControl::s_stateTerminateRows[] = {
    // signal               next               job
    {ZQPEL_24,              STATE_TERMINATE,   &CZORControl::JobDisregardSig},
    {ZQPEL_32,              STATE_TERMINATE,   &CZORControl::JobRelayToGUI},
    {ZQPEL_100,             STATE_TERMINATE,   &CZORControl::JobAliveResp},
    {TERMINATED,            STATE_TERMINATE,   &CZORControl::JobHandlerTermResp},
    {FINISH_TERM,           STATE_TERMINATE,   &CZORControl::JobTerminate},
    {TERM_EXPIRED,          STATE_TERMINATE,   &CZORControl::JobTerminate},
};

const CZORControl::Row CZORControl::s_dbErrorRows[] = {
    // signal               next               job
    {ZQPEL_24,              SUPERVISE,         &CZORControl::JobTerminate},
    {ZQPEL_32,              DBERROR,           &CZORControl::JobRelayToGUI},
};

const CZORControl::State CZORControl::s_states[] = {
    // name                 default next       default job                       rows
    {"START_HANDL",         START_HANDL,       &CZORControl::JobError,           Rows(s_startHandlRows)},
    {"WAIT_HANDL_COMPL",    WAIT_HANDL_COMPL,  &CZORControl::JobError,           Rows(s_waitHandlComplRows)},
    {"SUPERVISE",           SUPERVISE,         &CZORControl::JobError,           Rows(s_superviseRows)},
    {"WAIT_TIDESTART",      WAIT_TIDESTART,    &CZORControl::Save,               Rows(s_waitTidestartRows)},
    {"WAIT_SSVSTART",       WAIT_SSVSTART,     &CZORControl::Save,               Rows(s_waitSsvstartRows)},
    {"STATE_TERMINATE",     STATE_TERMINATE,   &CZORControl::JobDisregardSig,    Rows(s_stateTerminateRows)},
    {"DBERROR",             DBERROR,           &CZORControl::JobDisregardSig,    Rows(s_dbErrorRows)},
};
// clang-format on

const CZORControl::StateList CZORControl::kStateList = States(CZORControl::s_states);

// ---- construction and start-up ----------------------------------------------

bool CZORControl::MakesHandler(uint16_t type) {
    return std::find(std::begin(kHandlerTypes), std::end(kHandlerTypes), type) !=
           std::end(kHandlerTypes);
}

CZORControl::CZORControl(const char* name, int32_t initialState, LogTrace* trace, uint8_t debugMask,
                         CControlSetup setup)
    : QObject(nullptr),
      CApplFsm(name, initialState, trace, debugMask),
      m_setup(std::move(setup)),
      m_debugMask(debugMask),
      m_db(m_setup.db != nullptr ? m_setup.db : &ProcessDatabase()),
      m_messages(m_setup.messages != nullptr ? m_setup.messages : &ProcessMessages()) {
    CAuxContext context;
    context.db = m_db;
    context.messages = m_messages;
    context.traceData = [this](const std::string& text) { TraceLine(text); };
    context.traceJob = [this](const std::string& text) { TraceJobLine(text); };
    m_aux = std::make_unique<CAuxProcesses>(std::move(context));
    m_grid =
        std::make_unique<CGridServerClient>([this](const std::string& text) { TraceLine(text); });
}

CZORControl::~CZORControl() {
    if (m_receiver) m_receiver->stop();
    if (m_ioThread) m_ioThread->stop();
    // A job that still blocks after the wait is left behind only when the
    // process ends right here; otherwise it must finish before the members
    // it works on go.
    if (StopFsm() != 0 && !m_setup.endProcess) JoinFsm();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));

    if (m_aux->Processes().WaitAll(kProcessWait) == -1)
        TraceData("%s", "\n\tError: Processes started by ZORControl not terminated correctly.\n\r");
    else
        TraceJob("%s", "\n\tProcesses started by ZORControl terminated OK.\n\r");
    m_aux.reset();
    TraceData("%s", "\n\tZOR terminates.\n");
    // The grid server's shutdown request goes out from the main thread's
    // loop, which has ended: give it its reply here, briefly.
    m_grid->WaitForPending(kGridReplyWait);

    if (!m_setup.endProcess) return;
    platform::RunShutdownScript("termPEL.cmd");
    // Nothing after this point runs: get every line written out first.
    log4cplus::Logger::shutdown();
    std::fflush(nullptr);
    ::_exit(0);
}

uint16_t CZORControl::CommandPort() const {
    return m_receiver && m_commandPortOpen ? m_receiver->local_port() : 0;
}

void CZORControl::InitJob() {
    TraceJob("InitJob");
    m_io = std::make_shared<boost::asio::io_context>();
    m_aux->SetIoContext(m_io);
    if (!OpenCommandPort()) return;
    m_aux->SetAddresses();
    m_ioThread = std::make_unique<ua::sockudp::io_thread>(m_io);
    try {
        m_ioThread->start([this] {
            TraceData("%s", "\n\tWarn: Thread for IO context for server connections terminated");
        });
    } catch (const std::exception& e) {
        // Without the I/O thread nothing is received: as bad as no port.
        m_commandPortOpen = false;
        m_commandPortError = std::string("cannot start the I/O thread: ") + e.what();
        std::cerr << "ZOR: " << m_commandPortError << std::endl;
        TraceData("\n\tERROR: %s", m_commandPortError.c_str());
        m_receiver->stop();
        return;
    }
    if (!m_setup.launchProcesses) return;
    m_aux->DeriveKeelInputPort();
    m_aux->AllocateBridgePorts();
    m_aux->StartInitialProcesses();
    m_grid->StartGridServer();
    m_aux->SendInitSentences();
}

bool CZORControl::OpenCommandPort() {
    m_intake = std::make_unique<CCommandIntake>(this, this, Trace(),
                                                (TraceFlags() & FSM_TRACE_DATA) != 0, Name());
    try {
        m_receiver = std::make_unique<ua::sockudp::receiver>(m_io);
        m_receiver->set_log_callback(m_intake->LogCallback());
        m_receiver->start(m_setup.commandPort);
        m_receiver->set_data_callback(m_intake->DataCallback());
        m_commandPortOpen = true;
        return true;
    } catch (const std::exception& e) {
        // A ZOR that cannot hear its commands must say so and not run on.
        m_commandPortError =
            "cannot bind the command port " + std::to_string(m_setup.commandPort) + ": " + e.what();
        std::cerr << "ZOR: " << m_commandPortError << std::endl;
        TraceData("\n\tERROR: %s", m_commandPortError.c_str());
        if (m_receiver) m_receiver->stop();
        return false;
    }
}

void CZORControl::StartTesseraCont() {
    m_grid->StartTesseraCont();
}

// ---- small helpers ------------------------------------------------------------

void CZORControl::TraceLine(const std::string& text) {
    TraceData("%s", text.c_str());
}

void CZORControl::TraceJobLine(const std::string& text) {
    TraceJob("%s", text.c_str());
}

void CZORControl::SendText(const std::string& text, const std::string& address) {
    if (address.empty()) return;
    const CPELSignal carrier(0, CFsmPayload::Copy(text));
    SendPayload(carrier, address, m_io);
}

CFsmBase* CZORControl::HandlerOf(CSounderKey key) const {
    const auto found = m_byKey.find(key);
    return found == m_byKey.end() ? nullptr : found->second.get();
}

size_t CZORControl::HandlerCount() const {
    return m_byHandler.size();
}

void CZORControl::CopyToHandlers(const CPELSignal& signal,
                                 const std::function<bool(CSounderKey)>& accept) {
    for (const auto& [key, handler] : m_byKey)
        if (handler && accept(key)) handler->PutSignal(std::make_unique<CPELSignal>(signal), true);
}

bool CZORControl::RemoveHandler(const CPELSignal& signal) {
    // Only a handler the registry holds is deleted: a stray sender is not
    // ours to free.
    const auto found = m_byHandler.find(signal.sender);
    if (found == m_byHandler.end()) return false;
    const CSounderKey key = found->second;
    m_byHandler.erase(found);
    std::unique_ptr<CFsmBase> handler = std::move(m_byKey[key]);
    m_byKey.erase(key);
    handler.reset();  // may block while the handler ends its processes
    return true;
}

// ---- the three small jobs -------------------------------------------------------

void CZORControl::JobError(SignalSlot& slot) {
    TraceJob("JobError");
    if (slot) slot->payload.reset();
}

void CZORControl::JobDisregardSig(SignalSlot& slot) {
    TraceJob("JobDisregardSig");
    if (slot) slot->payload.reset();
}

void CZORControl::JobDropSilent(SignalSlot& slot) {
    if (slot) slot->payload.reset();
}

// ---- the registry and the start list ------------------------------------------

CFsmBase* CZORControl::FindHandler(const char* payload, int32_t length) {
    const std::string s(payload != nullptr && length > 0 ? payload : "",
                        payload != nullptr && length > 0 ? static_cast<size_t>(length) : 0);
    const std::optional<CSounderKey> key = cs::SounderOfThirdField(s);
    if (!key) {
        TraceData("\n\tERROR: Received ZQPEL command is garbled and disregarded: \n\t%s",
                  s.c_str());
        m_messages->reportMessage(kMsgGarbled, cs::ShortenedForMessage(s));
        return nullptr;
    }
    const auto found = m_byKey.find(*key);
    if (found == m_byKey.end()) {
        TraceData(
            "\n\tWarning: No map entry for sounder type %i, serno %i given in ZQPEL command:\n\t%s",
            key->type, key->serial, s.c_str());
        return nullptr;
    }
    if (!found->second) {
        TraceData("\n\tERROR: ZOR handler for given sounder type: %i, serial number %i is missing.",
                  key->type, key->serial);
        m_messages->reportMessage(kMsgMissingHandler, std::to_string(key->type), key->serial);
        return nullptr;
    }
    return found->second.get();
}

void CZORControl::JobStartHandl(SignalSlot& slot) {
    TraceJob("JobStartHandl");
    const std::string text = slot ? std::string(slot->payload.view()) : std::string();
    TraceData("\n\tInfo: Received start list: %s ", text.c_str());
    const std::string list = cs::StartListBody(text);
    for (const cs::CStartItem& item : cs::StartListItems(list)) {
        TraceData("\n\tInfo: Item from start list: %s ", item.text.c_str());
        if (m_byKey.count(item.key) != 0) continue;
        std::unique_ptr<CFsmBase> handler;
        if (MakesHandler(item.key.type) && m_setup.handlerFactory) {
            const std::string name = "ZORH_" + item.typeText + item.serialText;
            try {
                handler = m_setup.handlerFactory(name, Trace(), m_debugMask, m_io);
            } catch (const std::exception& e) {
                TraceData("\n\tERROR: handler %s could not be made: %s", name.c_str(), e.what());
            }
        }
        if (handler) m_byHandler[handler.get()] = item.key;
        m_byKey[item.key] = std::move(handler);
    }
    StartTimer(INIT_TIMEOUT, 0);
    std::string body = list;
    body.push_back('\0');
    PutInternal(std::make_unique<CPELSignal>(
        STARTED_OK, CFsmPayload::Copy(body.data(), static_cast<int32_t>(body.size()))));
    if (slot) slot->payload.reset();
}

void CZORControl::JobInitHandl(SignalSlot& slot) {
    TraceJob("JobInitHandl");
    const std::string list = slot ? std::string(slot->payload.view()) : std::string();
    for (const cs::CStartItem& item : cs::StartListItems(list)) {
        TraceData("\n\tInfo: Item from start list: %s ", item.text.c_str());
        CFsmBase* handler = HandlerOf(item.key);
        if (handler == nullptr) continue;
        auto init = std::make_unique<CPELSignal>(INIT_PARAM, this);
        std::memset(init->userData, 0, sizeof init->userData);
        std::memcpy(init->userData, &item.key.type, 2);
        std::memcpy(init->userData + 2, &item.key.serial, 2);
        handler->PutSignal(std::move(init), true);
    }
    if (slot) slot->payload.reset();
}

void CZORControl::JobBeginSuperv(SignalSlot& slot) {
    TraceJob("JobBeginSuperv");
    StopTimer(INIT_TIMEOUT);
    if (slot) slot->payload.reset();
}

void CZORControl::JobHandlTerm(SignalSlot& slot) {
    TraceJob("JobHandlTerm");
    if (slot) {
        RemoveHandler(*slot);
        slot->payload.reset();
    }
}

void CZORControl::JobTermAllHandl(SignalSlot& slot) {
    for (const auto& [key, handler] : m_byKey) {
        if (!handler) continue;
        handler->PutSignal(
            std::make_unique<CPELSignal>(
                ZQPEL_19, this,
                CFsmPayload::Copy(cs::MakeHandlerTermSentence(key.type, key.serial))),
            true);
    }
    if (slot) slot->payload.reset();
}

// ---- supervision of the bridges, alive query ------------------------------------

void CZORControl::JobAliveResp(SignalSlot& slot) {
    TraceJob("JobAliveResp");
    SendText(kAliveAnswer, m_aux->GuiAddress());
    if (slot) slot->payload.reset();
}

void CZORControl::PrepRestart(Bridge bridge, SignalSlot& slot) {
    const bool tide = bridge == Bridge::Tide;
    m_aux->BeginRestart(tide ? CAuxProcesses::Bridge::Tide : CAuxProcesses::Bridge::Keel);
    StartTimer(tide ? TIDE_START_TIMEOUT : KEEL_START_TIMEOUT, kBridgeStartTimeoutMs);
    StartTimer(tide ? TERM_TIDE_EXPIRED : TERM_KEEL_EXPIRED, kBridgeTermExpiryMs);
    if (slot) slot->payload.reset();
}

void CZORControl::JobPrepRestartTIDE(SignalSlot& slot) {
    TraceJob("JobPrepRestartTIDE");
    PrepRestart(Bridge::Tide, slot);
}

void CZORControl::JobPrepRestartKEEL(SignalSlot& slot) {
    TraceJob("JobPrepRestartKEEL");
    PrepRestart(Bridge::Keel, slot);
}

void CZORControl::RestartStep(Bridge bridge, SignalSlot& slot) {
    const bool tide = bridge == Bridge::Tide;
    const auto result =
        m_aux->RestartStep(tide ? CAuxProcesses::Bridge::Tide : CAuxProcesses::Bridge::Keel);
    if (result == CAuxProcesses::RestartResult::Started) {
        StopTimer(tide ? TIDE_START_TIMEOUT : KEEL_START_TIMEOUT);
        PutInternal(std::make_unique<CPELSignal>(tide ? TIDE_START_COMPL : KEEL_START_COMPL, this));
    } else {
        StartTimer(tide ? TERM_TIDE_EXPIRED : TERM_KEEL_EXPIRED, kBridgeTermExpiryMs);
    }
    if (slot) slot->payload.reset();
}

void CZORControl::JobRestartTide(SignalSlot& slot) {
    TraceJob("JobRestartTide");
    RestartStep(Bridge::Tide, slot);
}

void CZORControl::JobRestartKeel(SignalSlot& slot) {
    TraceJob("JobRestartKeel");
    RestartStep(Bridge::Keel, slot);
}

void CZORControl::JobTideStartTimeout(SignalSlot& slot) {
    TraceJob("JobTideStartTimeout");
    TraceData("%s",
              "\n\tERROR: Not able to restart Realtime Tide RStoUDP. \n\t       Try a restart of "
              "real time Tide from tools menu.\n");
    m_messages->reportNumber(kMsgTideRestart);
    if (slot) slot->payload.reset();
}

void CZORControl::JobKeelStartTimeout(SignalSlot& slot) {
    TraceJob("JobKeelStartTimeout");
    TraceData("%s",
              "\n\tERROR: Not able to restart Dept Below Keel RStoUDP. \n\t       Try a restart of "
              "depth below Keel from tools menu.\n");
    m_messages->reportNumber(kMsgKeelRestart);
    if (slot) slot->payload.reset();
}

// ---- relays -------------------------------------------------------------------

void CZORControl::JobRelayCommand(SignalSlot& slot) {
    TraceJob("JobRelayCommand");
    if (!slot) return;
    CFsmBase* handler = FindHandler(slot->payload.data(), slot->payload.length());
    if (handler != nullptr)
        handler->PutSignal(std::move(slot), true);
    else
        slot->payload.reset();
}

void CZORControl::JobRelayCommandAll(SignalSlot& slot) {
    TraceJob("JobRelayCommandAll");
    if (!slot) return;
    CopyToHandlers(*slot, [](CSounderKey) { return true; });
    slot->payload.reset();
}

void CZORControl::JobRelayToGUI(SignalSlot& slot) {
    TraceJob("JobRelayToGUI");
    if (!slot) return;
    if (!m_aux->GuiAddress().empty()) SendPayload(*slot, m_aux->GuiAddress(), m_io);
    slot->payload.reset();
}

// One relay to an auxiliary process: which sentence may start it, how, and
// how long the new process gets to open its port.
struct CZORControl::ProcessRelay {
    const char* job;
    int32_t firstNumber;  // 0: never starts the process
    int32_t altFirstNumber;
    CAuxProcesses::Process process;
    std::function<void(CAuxProcesses&)> start;
    const char* startTrace;  // null: none
    std::chrono::milliseconds pause;
    const std::string& (CAuxProcesses::*address)() const;
    const char* sendTrace;  // null: none
};

void CZORControl::RelayToProcess(SignalSlot& slot, const ProcessRelay& relay) {
    TraceJob("%s", relay.job);
    if (!slot) return;
    const int32_t number = slot->GetSignalNo();
    const bool first =
        relay.firstNumber != 0 && (number == relay.firstNumber || number == relay.altFirstNumber);
    if (first && m_aux->Pid(relay.process) == -1) {
        if (relay.startTrace != nullptr) TraceJob("%s", relay.startTrace);
        relay.start(*m_aux);
        if (m_setup.pauseAfterStart) std::this_thread::sleep_for(relay.pause);
    }
    const std::string& address = ((*m_aux).*relay.address)();
    if (!address.empty()) {
        if (relay.sendTrace != nullptr) TraceData("%s", relay.sendTrace);
        SendPayload(*slot, address, m_io);
    }
    slot->payload.reset();
}

void CZORControl::JobRelayATH(SignalSlot& slot) {
    static const ProcessRelay relay{"JobRelayATH",
                                    ZQPEL_150,
                                    ZQPEL_155,
                                    CAuxProcesses::Process::ApplanixCtrl,
                                    [](CAuxProcesses& aux) { aux.StartApplanixCtrl(); },
                                    nullptr,
                                    std::chrono::seconds(1),
                                    &CAuxProcesses::ApplanixAddress,
                                    nullptr};
    RelayToProcess(slot, relay);
}

void CZORControl::JobRelayRTCMLogger(SignalSlot& slot) {
    static const ProcessRelay relay{"JobRelayRTCMLogger",
                                    ZQPEL_160,
                                    0,
                                    CAuxProcesses::Process::RtcmLogger,
                                    [](CAuxProcesses& aux) { aux.StartRtcmLogger(true); },
                                    "JobRelayRTCMLogger - CreateTerraTec",
                                    std::chrono::seconds(1),
                                    &CAuxProcesses::RtcmLoggerAddress,
                                    nullptr};
    RelayToProcess(slot, relay);
}

void CZORControl::JobRelaySRHLogger(SignalSlot& slot) {
    static const ProcessRelay relay{"JobRelaySRHLogger",
                                    ZQPEL_170,
                                    0,
                                    CAuxProcesses::Process::SrhLogger,
                                    [](CAuxProcesses& aux) { aux.StartSrhLogger(); },
                                    nullptr,
                                    std::chrono::seconds(1),
                                    &CAuxProcesses::SrhLoggerAddress,
                                    nullptr};
    RelayToProcess(slot, relay);
}

void CZORControl::JobRelayIMULogger(SignalSlot& slot) {
    static const ProcessRelay relay{"JobRelayIMULogger",
                                    0,
                                    0,
                                    CAuxProcesses::Process::ImuLogger,
                                    [](CAuxProcesses&) {},
                                    nullptr,
                                    std::chrono::seconds(0),
                                    &CAuxProcesses::ImuLoggerAddress,
                                    nullptr};
    RelayToProcess(slot, relay);
}

void CZORControl::JobRelayVMBLogger(SignalSlot& slot) {
    static const ProcessRelay relay{"JobRelayVMBLogger",
                                    ZQPEL_178,
                                    0,
                                    CAuxProcesses::Process::VmbLogger,
                                    [](CAuxProcesses& aux) { aux.StartVmbLogger(); },
                                    "JobRelaySPOLogger - CreateVMB",
                                    std::chrono::seconds(2),
                                    &CAuxProcesses::VmbLoggerAddress,
                                    "Relay command to VMBLogger.."};
    RelayToProcess(slot, relay);
}

void CZORControl::JobRelaySPOLogger(SignalSlot& slot) {
    static const ProcessRelay relay{"JobRelaySPOLogger",
                                    ZQPEL_180,
                                    0,
                                    CAuxProcesses::Process::SpoLogger,
                                    [](CAuxProcesses& aux) { aux.StartSpoLogger(); },
                                    "JobRelaySPOLogger - CreateSPO",
                                    std::chrono::seconds(1),
                                    &CAuxProcesses::SpoLoggerAddress,
                                    nullptr};
    RelayToProcess(slot, relay);
}

void CZORControl::JobNewExternalSV(SignalSlot& slot) {
    TraceJob("JobNewExternalSV");
    if (!slot || slot->payload.empty()) return;
    const std::optional<std::string> sentence = cs::ExternalSvSentence(slot->payload.view());
    if (sentence) SendText(*sentence, kSsvDataAddress);
    slot->payload.reset();
}

void CZORControl::JobHandleRemote(SignalSlot& slot) {
    TraceJob("JobHandleRemote");
    if (!slot) return;
    const std::optional<uint16_t> type = cs::RemoteSounderType(slot->payload.view());
    if (type) CopyToHandlers(*slot, [&](CSounderKey key) { return key.type == *type; });
    slot->payload.reset();
}

void CZORControl::RelayToHandler(SignalSlot& slot, long long type, long long serial) {
    TraceJob("JobRelayCommand");
    if (type >= 0 && type <= 0xFFFF && serial >= 0 && serial <= 0xFFFF) {
        CFsmBase* handler =
            HandlerOf(CSounderKey{static_cast<uint16_t>(type), static_cast<uint16_t>(serial)});
        if (handler != nullptr) {
            handler->PutSignal(std::move(slot), true);
            return;
        }
    }
    slot->payload.reset();
}

void CZORControl::JobUpdateSubscription(SignalSlot& slot) {
    TraceJob("JobUpdateSubscription");
    if (!slot || slot->payload.empty()) return;
    if (const auto key = cs::KeyFields(slot->payload.view(), 4))
        RelayToHandler(slot, key->type, key->serial);
    else
        slot->payload.reset();
}

void CZORControl::JobRelayLogging(SignalSlot& slot) {
    TraceJob("JobRelayLogging");
    if (!slot || slot->payload.empty()) return;
    if (const auto key = cs::KeyFields(slot->payload.view(), 3))
        RelayToHandler(slot, key->type, key->serial);
    else
        slot->payload.reset();
}

// ---- shutdown -----------------------------------------------------------------

void CZORControl::JobPrepTerminate(SignalSlot& slot) {
    if (slot) slot->payload.reset();
    if (!m_aux->SrhLoggerAddress().empty()) {
        TraceData("%s", "\n\tInfo: Terminate SRHLogger ...\n");
        SendText(kQuitSentence, m_aux->SrhLoggerAddress());
    }
    SendText(kQuitSentence, m_aux->SsvAddress());
    SendText(kQuitSentence, m_aux->ApplanixAddress());
    SendText(kQuitSentence, m_aux->VmbLoggerAddress());
    SendText(kQuitSentence, m_aux->SpoLoggerAddress());
    m_grid->RequestShutdownAtExit();

    // Entries without a handler never answer: only handlers are waited for.
    if (HandlerCount() > 0) {
        StartTimer(TERM_EXPIRED, kTermExpiryMs);
        JobTermAllHandl(slot);
    } else {
        PutInternal(std::make_unique<CPELSignal>(FINISH_TERM, this));
    }
    platform::KillImage(kGuiImage);
}

void CZORControl::JobHandlerTermResp(SignalSlot& slot) {
    TraceJob("JobHandlerTermResp");
    if (!slot) return;
    RemoveHandler(*slot);
    if (HandlerCount() == 0) {
        PutInternal(std::make_unique<CPELSignal>(FINISH_TERM, this));
        StopTimer(TERM_EXPIRED);
    }
    slot->payload.reset();
}

void CZORControl::JobTerminate(SignalSlot& slot) {
    TraceJob("JobTerminate");
    slot.reset();
    StopTimer(TERM_EXPIRED);
    for (const char* image : kLeftoverImages) platform::KillImage(image);
    emit terminate();
}
