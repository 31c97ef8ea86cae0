#include "ZORHandl.h"

#include <Sender.h>
#include <SurveyData.h>
#include <SuspendMode.h>
#include <log4cplus/loggingmacros.h>

#include <chrono>
#include <cstring>
#include <exception>

#include "HandlerParsers.h"
#include "HandlerPorts.h"

namespace {

constexpr char kDsn[] = "ZPELDB";
constexpr char kUser[] = "peluser";
constexpr char kPassword[] = "tolbex4";
constexpr char kProgramName[] = "ZORhandl";

constexpr char kQuit[] = "$ZQPEL,24,\n\r";
constexpr char kSurveyChanged[] = "$ZQPEL,6,\n\r";
constexpr char kStopPing[] = "$ZQPEL,7,\n\r";

std::string Endpoint(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

}  // namespace

// clang-format off
const CZORHandl::Row CZORHandl::s_idleRows[] = {
    // signal  next               job
    {54008,    ZPEL_DBINIT,       &CZORHandl::JobGetProcInfo},      // INIT_PARAM
};

const CZORHandl::Row CZORHandl::s_dbInitRows[] = {
    // signal  next               job
    {52002,    ZPEL_START_HANDL,  &CZORHandl::JobStartHandl},       // DB_READ_COMPL
    {50018,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // ZQPEL_18
    {50019,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // ZQPEL_19
    {54005,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // TERMINATED
    {50081,    ZPEL_DBINIT,       &CZORHandl::Save},                // ZQPEL_81
    {50085,    ZPEL_DBINIT,       &CZORHandl::Save},                // ZQPEL_85
    {50471,    ZPEL_DBINIT,       &CZORHandl::Save},                // ZQPEL_471
    {50473,    ZPEL_DBINIT,       &CZORHandl::Save},                // ZQPEL_473
    {50474,    ZPEL_DBINIT,       &CZORHandl::Save},                // ZQPEL_474
    {50475,    ZPEL_DBINIT,       &CZORHandl::Save},                // ZQPEL_475
};

const CZORHandl::Row CZORHandl::s_startRows[] = {
    // signal  next               job
    {54010,    ZPEL_ACTIVE,       &CZORHandl::JobStartProcess},     // START_COMPL
    {50005,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_5
    {50018,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // ZQPEL_18
    {50019,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // ZQPEL_19
    {50020,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_20
    {50021,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_21
    {50022,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_22
    {50039,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_39
    {54005,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // TERMINATED
    {59100,    ZPEL_START_HANDL,  &CZORHandl::Save},                // TIDE
    {58011,    ZPEL_START_HANDL,  &CZORHandl::Save},                // NMEA_APB
    {58012,    ZPEL_START_HANDL,  &CZORHandl::Save},                // NMEA_XTE
    {50060,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_60
    {50061,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_61
    {50062,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_62
    {50762,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_762
    {50081,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_81
    {50087,    ZPEL_START_HANDL,  &CZORHandl::JobPortClosed},       // ZQPEL_87
    {51120,    ZPEL_START_HANDL,  &CZORHandl::Save},                // R20
    {50355,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_355
    {87,       ZPEL_START_HANDL,  &CZORHandl::Save},                // (none)
    {50471,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_471
    {50473,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_473
    {50474,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_474
    {50475,    ZPEL_START_HANDL,  &CZORHandl::Save},                // ZQPEL_475
};

const CZORHandl::Row CZORHandl::s_activeRows[] = {
    // signal  next               job
    {50005,    ZPEL_ACTIVE,       &CZORHandl::JobChgSurvey},        // ZQPEL_5
    {50018,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // ZQPEL_18
    {50019,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // ZQPEL_19
    {50020,    ZPEL_ACTIVE,       &CZORHandl::JobPrepLogNewFmt},    // ZQPEL_20
    {50021,    ZPEL_ACTIVE,       &CZORHandl::JobPrepStopNewFmt},   // ZQPEL_21
    {50022,    ZPEL_ACTIVE,       &CZORHandl::JobStopPingNewFmt},   // ZQPEL_22
    {50031,    ZPEL_ACTIVE,       &CZORHandl::JobRelayZORControl},  // ZQPEL_31
    {50039,    ZPEL_ACTIVE,       &CZORHandl::JobRelayZORControl},  // ZQPEL_39
    {54005,    CLOSEDOWN,         &CZORHandl::JobTerminate},        // TERMINATED
    {59100,    ZPEL_ACTIVE,       &CZORHandl::JobRelayXDRZ},        // TIDE
    {58011,    ZPEL_ACTIVE,       &CZORHandl::JobRelayXDRZ},        // NMEA_APB
    {58012,    ZPEL_ACTIVE,       &CZORHandl::JobRelayXDRZ},        // NMEA_XTE
    {50060,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_60
    {50061,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_61
    {50062,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_62
    {50762,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_762
    {50081,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_81
    {50087,    ZPEL_ACTIVE,       &CZORHandl::JobPortClosed},       // ZQPEL_87
    {51120,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // R20
    {87,       ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // (none)
    {50471,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZXDRZ},     // ZQPEL_471
    {50473,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_473
    {50474,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_474
    {50475,    ZPEL_ACTIVE,       &CZORHandl::JobRelayDRZ},         // ZQPEL_475
};

const CZORHandl::State CZORHandl::s_states[] = {
    // name                default next       default job                   rows
    {"ZPEL_IDLE",          ZPEL_IDLE,         &CZORHandl::JobError,         Rows(s_idleRows)},
    {"ZPEL_DBINIT",        ZPEL_DBINIT,       &CZORHandl::JobDisregardSig,  Rows(s_dbInitRows)},
    {"ZPEL_START_HANDL",   ZPEL_START_HANDL,  &CZORHandl::JobDisregardSig,  Rows(s_startRows)},
    {"ZPEL_ACTIVE",        ZPEL_ACTIVE,       &CZORHandl::JobDisregardSig,  Rows(s_activeRows)},
    {"CLOSEDOWN",          CLOSEDOWN,         &CZORHandl::JobDisregardSig,  NoRows()},
};
// clang-format on

const CZORHandl::StateList CZORHandl::kStateList = States(CZORHandl::s_states);

CZORHandl::CZORHandl(const char* name, int32_t initialState, LogTrace* trace, uint8_t debugMask)
    : CApplFsm(name, initialState, trace, debugMask),
      m_db("Unknown"),
      m_processes(std::make_unique<platform::ProcessManager>(kProcessCapacity)),
      m_logger(log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("ZORH"))) {
    m_messages.setDbOperations(&m_db);
    m_db.connectDatabase(kDsn, kUser, kPassword, kProgramName);
    m_messages.initCatalogue();
    int version = -1;
    std::string versionName;
    if (m_db.getDbVersion(version, versionName) != 0) {
        version = -1;
        versionName.clear();
    }
    TraceData("DATABASE INFO: ver. %i, proc. %s\n", version, versionName.c_str());
}

CZORHandl::~CZORHandl() {
    TraceJob("~CZORHandl");
    if (m_receiver) m_receiver->stop();
    if (StopFsm() != 0) JoinFsm();  // a job still running must end first

    // XDRZ first: it must not wait for data from a DRZ that has gone.
    SendSentence(50024, kQuit, m_xdrzEndpoint);
    SendSentence(50024, kQuit, m_drzEndpoint);
    m_drzProc.reset();
    m_xdrzProc.reset();

    // A limit that runs out with processes still running counts as failure.
    const int left = m_processes->WaitAll(std::chrono::seconds(kProcessWaitSeconds));
    if (left != 0) {
        TraceData("\n\tError: Processes started by ZORHandl not terminated correctly.\n\r");
    } else {
        TraceJob("\n\tProcesses started by ZORHandl terminated OK.\n\r");
    }
    m_processes.reset();
    TraceData("\n\tZORHandl terminates.\n");
    m_receiver.reset();
}

void CZORHandl::SetIoContext(std::shared_ptr<boost::asio::io_context> context) {
    m_ioContext = std::move(context);
}

void CZORHandl::InitJob() {
    TraceJob("InitJob");
}

std::string CZORHandl::GroupName() const {
    if (!m_drzProc) return std::string();
    const std::string name = m_drzProc->processname;
    return name.size() > 4 ? name.substr(4) : std::string();
}

void CZORHandl::ReleasePayload(SignalSlot& slot) {
    if (slot) slot->payload.reset();
}

void CZORHandl::JobError(SignalSlot& slot) {
    TraceJob("JobError");
    slot.reset();
}

void CZORHandl::JobDisregardSig(SignalSlot& slot) {
    TraceJob("JobDisregardSig");
    slot.reset();
}

// ---- start ------------------------------------------------------------------

void CZORHandl::JobGetProcInfo(SignalSlot& slot) {
    TraceJob("JobGetProcInfo");
    if (!slot) return;
    m_controller = slot->sender;
    std::memcpy(&m_sounderType, slot->userData, sizeof m_sounderType);
    std::memcpy(&m_serialNumber, slot->userData + 2, sizeof m_serialNumber);
    m_messages.attachTarget(m_controller);
    m_paramsRead = true;
    const std::string typeText = std::to_string(m_sounderType);

    if (!m_startFailed) {
        auto drz = std::make_unique<DrzProcParams>();
        if (m_db.getDrzProcParams(m_sounderType, m_serialNumber, *drz) != 0) {
            m_paramsRead = false;
            TraceData(
                "\n\tERROR: Not able to read DRZ process parameters from PELDB, \n\t       "
                "sounder type: %i, serial number: %i. Try to restart.",
                m_sounderType, m_serialNumber);
            m_messages.reportMessage(455, typeText, static_cast<int>(m_serialNumber));
        } else {
            m_drzProc = std::move(drz);
        }
    }
    if (m_paramsRead && !m_startFailed) {
        auto xdrz = std::make_unique<XdrzProcParams>();
        if (m_db.getXdrzProcParams(m_sounderType, m_serialNumber, *xdrz) != 0) {
            m_paramsRead = false;
            TraceData(
                "\n\tERROR: Not able to read XDRZ process parameters from PELDB, \n\t       "
                "sounder type: %i, serial number: %i. Try to restart.",
                m_sounderType, m_serialNumber);
            m_messages.reportMessage(456, typeText, static_cast<int>(m_serialNumber));
        } else {
            m_xdrzProc = std::move(xdrz);
        }
    }
    if (m_paramsRead && !m_startFailed) {
        DrzAllParams all;
        if (m_db.getDrzAllParams(m_drzProc->processname, all) != 0) {
            m_paramsRead = false;
            TraceData(
                "\n\tERROR: Not able to read DRZ parameters from PELDB,\n\t       sounder type "
                "%i, serial number %i. Try to restart.",
                m_sounderType, m_serialNumber);
            m_messages.reportMessage(461, typeText, static_cast<int>(m_serialNumber));
        }
    }
    if (m_paramsRead && !m_startFailed) LoadSurveyName();

    const int32_t next = (m_paramsRead && !m_startFailed) ? kDbReadCompl : kTerminated;
    PutInternal(std::make_unique<CPELSignal>(next, this));
    ReleasePayload(slot);
}

void CZORHandl::LoadSurveyName() {
    CSurveyData survey;
    survey.loadSurvey(GroupName());
    m_surveyName = rawdata::CutTo(survey.getCurrentSurvey(), rawdata::kSurveyNameChars);
}

int CZORHandl::StartProcess(const std::string& commandLine) {
    platform::LaunchOptions options;
    options.inheritEnvironment = true;
    options.ownSession = true;  // no console window
    options.highPriority = true;
    return m_processes->Spawn(commandLine, options);
}

void CZORHandl::JobStartHandl(SignalSlot& slot) {
    TraceJob("JobStartHandl");
    ReleasePayload(slot);
    const int mode = platform::GetSuspendMode();

    if (platform::SuspendAllowsDrz(mode) && m_drzProc) {
        const std::string line = std::string(m_drzProc->drz_path) + " -name " +
                                 m_drzProc->processname + " " + m_drzProc->drz_argument_str +
                                 " -soundertype 4";
        const int pid = StartProcess(line);
        if (pid == -1) {
            m_startFailed = true;
            TraceData("\n\tERROR: Not able to create DRZ process. Try to restart.");
            m_messages.reportNumber(466);
        } else {
            m_db.registerPid(pid, m_drzProc->processname);
        }
    }
    if (platform::SuspendAllowsXdrz(mode) && !m_startFailed && m_xdrzProc) {
        const std::string line = std::string(m_xdrzProc->xdrz_path) + " -name " +
                                 m_xdrzProc->processname + " " + m_xdrzProc->xdrz_argument_str;
        const int pid = StartProcess(line);
        if (pid == -1) {
            m_startFailed = true;
            TraceData("\n\tERROR: Not able to create XDRZ process. Try to restart.");
            m_messages.reportNumber(467);
        } else {
            m_db.registerPid(pid, m_xdrzProc->processname);
        }
    }

    m_drzEndpoint = Endpoint(SounderPort(m_sounderType, m_serialNumber, SounderPortKind::Drz));
    TraceData("\nDRZ Receive port is %s", m_drzEndpoint.c_str());

    const uint16_t ownPort = SounderPort(m_sounderType, m_serialNumber, SounderPortKind::Handler);
    if (!m_ioContext) {
        TraceData("\n\tERROR: No I/O context: the handler port %u is not opened.", ownPort);
    } else {
        try {
            m_receiver = std::make_unique<ua::sockudp::receiver>(m_ioContext);
            m_receiver->set_log_callback([this](const std::string& text) { OnReceiverLog(text); });
            m_receiver->set_data_callback(
                [this](const char* bytes, std::size_t count) { OnDatagram(bytes, count); });
            m_receiver->start(ownPort);
        } catch (const std::exception& e) {
            // The handler still works for what the controller relays to it.
            TraceData("\n\tERROR: Not able to open the handler port %u: %s", ownPort, e.what());
            if (m_receiver) m_receiver->stop();
        }
    }

    m_xdrzEndpoint = Endpoint(SounderPort(m_sounderType, m_serialNumber, SounderPortKind::Xdrz));
    TraceData("\nXDRZ Receive port is %s", m_xdrzEndpoint.c_str());

    if (m_paramsRead && !m_startFailed) {
        StartTimer(kStartCompl, kStartDelayMs);
    } else {
        PutInternal(std::make_unique<CPELSignal>(kTerminated, this));
    }
}

void CZORHandl::JobStartProcess(SignalSlot& slot) {
    TraceJob("JobStartProcess");
    SendSentence(50006, kSurveyChanged, m_drzEndpoint);
    SendSentence(50006, kSurveyChanged, m_xdrzEndpoint);
    ReleasePayload(slot);
}

void CZORHandl::OnDatagram(const char* bytes, std::size_t count) {
    const std::optional<int32_t> number = handler_parse::DatagramSignalNumber(bytes, count);
    if (!number) return;
    PutSignal(std::make_unique<CPELSignal>(*number, this,
                                           CFsmPayload::Copy(bytes, static_cast<int32_t>(count))));
}

void CZORHandl::OnReceiverLog(const std::string& text) {
    TraceData("%s", text.c_str());
    LOG4CPLUS_INFO(m_logger, LOG4CPLUS_STRING_TO_TSTRING(text));
}

// ---- logging and survey control --------------------------------------------

void CZORHandl::SendSentence(int32_t number, const std::string& sentence,
                             const std::string& endpoint) {
    if (endpoint.empty()) return;
    const CPELSignal signal(number, this, CFsmPayload::Copy(sentence));
    SendSignalPayload(signal, endpoint);
}

void CZORHandl::SendSignalPayload(const CPELSignal& signal, const std::string& endpoint) {
    if (endpoint.empty()) return;
    if (!m_ioContext) {
        TraceData("\n\tERROR: No I/O context: nothing sent to %s", endpoint.c_str());
        return;
    }
    SendPayload(signal, endpoint, m_ioContext);
}

void CZORHandl::ReportVolumeLabel() {
    CSurveyData survey;
    const std::string root = survey.getRawDataRoot();
    if (root.empty()) return;
    const std::string label = m_diskManager.GetVolumeLabel(root);
    SendSentence(50756, "$ZQPEL,756," + label + "\n\r", m_xdrzEndpoint);
}

std::string CZORHandl::BuildPath(const std::string& counter, bool stop) {
    const std::time_t now = m_clock != nullptr ? m_clock() : std::time(nullptr);
    std::tm utc{};
    const bool haveTime = now != static_cast<std::time_t>(-1) && gmtime_r(&now, &utc) != nullptr;

    // The first load of the process writes the group's values back; after
    // it a load only reads, and nothing of it goes into the path.
    if (!CSurveyData::savedInProcess()) {
        CSurveyData survey;
        survey.loadSurvey(GroupName());
    }
    CSurveyData::RawPathSettings read = CSurveyData::readRawPathSettings();
    rawdata::PathSettings settings;
    settings.root = std::move(read.root);
    settings.locationStructure = std::move(read.locationStructure);
    settings.fileNameStructure = std::move(read.fileNameStructure);
    settings.vesselName = std::move(read.vesselName);
    const rawdata::SounderInfo sounder{m_sounderType, m_serialNumber, m_surveyName};
    const std::tm* clock = haveTime ? &utc : nullptr;
    return stop ? rawdata::StopFilePath(settings, sounder, counter, clock)
                : rawdata::LogFilePath(settings, sounder, counter, clock);
}

void CZORHandl::JobPrepLogNewFmt(SignalSlot& slot) {
    TraceJob("JobPrepLogNewFmt");
    SendFilePath(slot, false);
}

void CZORHandl::JobPrepStopNewFmt(SignalSlot& slot) {
    TraceJob("JobPrepStopNewFmt");
    SendFilePath(slot, true);
}

void CZORHandl::SendFilePath(SignalSlot& slot, bool stop) {
    const handler_parse::CounterAndFlag request =
        handler_parse::ParseCounterAndFlag(slot ? slot->payload.view() : std::string_view());
    if (request.labelFlag != 0) ReportVolumeLabel();
    const std::string sentence = (stop ? "$ZQPEL,25," : "$ZQPEL,1,") + request.counter + "," +
                                 BuildPath(request.counter, stop) + "\n\r";
    if (stop) {
        TraceData("\n\tZQPEL_25 datagram to DRZ: %s\n\r", sentence.c_str());
    } else {
        TraceData("\n\tZQPEL_1 datagram to DRZ: %s\n\r", sentence.c_str());
    }
    SendSentence(stop ? 50025 : 50001, sentence, m_drzEndpoint);
    ReleasePayload(slot);
}

void CZORHandl::JobStopPingNewFmt(SignalSlot& slot) {
    TraceJob("JobStopPingNewFmt");
    SendSentence(50007, kStopPing, m_drzEndpoint);
    SendSentence(50007, kStopPing, m_xdrzEndpoint);
    const int flag =
        handler_parse::ParseStopPingFlag(slot ? slot->payload.view() : std::string_view());
    if (flag != 0) ReportVolumeLabel();
    ReleasePayload(slot);
}

void CZORHandl::JobChgSurvey(SignalSlot& slot) {
    TraceJob("JobChgSurvey");
    ReleasePayload(slot);
    LoadSurveyName();
    SendSentence(50006, kSurveyChanged, m_drzEndpoint);
    TraceData("Sent ZQPEL_6 to DRZ OK.");
}

// ---- relays and termination --------------------------------------------------

void CZORHandl::JobRelayDRZ(SignalSlot& slot) {
    TraceJob("JobRelayDRZ");
    if (slot) SendSignalPayload(*slot, m_drzEndpoint);
    ReleasePayload(slot);
}

void CZORHandl::JobRelayXDRZ(SignalSlot& slot) {
    TraceJob("JobRelayXDRZ");
    if (slot) SendSignalPayload(*slot, m_xdrzEndpoint);
    ReleasePayload(slot);
}

void CZORHandl::JobRelayDRZXDRZ(SignalSlot& slot) {
    TraceJob("JobRelayDRZXDRZ");
    if (slot) {
        SendSignalPayload(*slot, m_drzEndpoint);
        SendSignalPayload(*slot, m_xdrzEndpoint);
    }
    ReleasePayload(slot);
}

void CZORHandl::JobRelayZORControl(SignalSlot& slot) {
    TraceJob("JobRelayZORControl");
    if (m_controller == nullptr) {
        slot.reset();
        return;
    }
    if (slot) m_controller->PutSignal(std::move(slot), true);
}

void CZORHandl::JobPortClosed(SignalSlot& slot) {
    TraceJob("JobPortClosed");
    if (!slot || slot->payload.empty()) return;
    const std::optional<handler_parse::PortClosed> report =
        handler_parse::ParsePortClosed(slot->payload.view());
    if (report) {
        if (!report->reason.empty()) {
            m_messages.reportMessage(582, report->port, report->reason);
        } else {
            m_messages.reportMessage(581, report->port);
        }
    }
    ReleasePayload(slot);
}

void CZORHandl::JobTerminate(SignalSlot& slot) {
    TraceJob("JobTerminate");
    slot.reset();
    if (m_controller != nullptr)
        m_controller->PutSignal(std::make_unique<CPELSignal>(kTerminated, this), true);
}
