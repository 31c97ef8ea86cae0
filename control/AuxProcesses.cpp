#include "AuxProcesses.h"

#include <DBoperations.h>
#include <FsmSignal.h>
#include <GetToken.h>
#include <Messages.h>
#include <PortTable.h>
#include <Sender.h>

#include <cstdlib>
#include <exception>
#include <vector>

namespace {

using Process = CAuxProcesses::Process;
using platform::LaunchOptions;

const std::string kGreeting = "$ZQPEL,6,\n\r";
const std::string kLoggerRunning = "$ZQPEL,15,\n\r";
const std::string kQuit = "$ZQPEL,24,\n\r";

// How each process is created: whether it gets ZOR's environment, and
// whether it runs without a console window at normal priority (own session)
// or with the default creation settings.
struct LaunchSetting {
    Process process;
    bool inheritEnvironment;
    bool ownSession;
};
// clang-format off
constexpr LaunchSetting kLaunchSettings[] = {
    // process                    environment  no console, normal priority
    {Process::TideBridge,         true,        true},
    {Process::KeelBridge,         true,        false},
    {Process::SvpLoggerBridge,    true,        false},
    {Process::ApplanixCtrl,       true,        true},
    {Process::SrhLogger,          true,        true},
    {Process::RtcmLogger,         false,       true},
    {Process::ImuLogger,          false,       true},
    {Process::VmbLogger,          true,        true},
    {Process::SpoLogger,          true,        true},
};
// clang-format on

LaunchOptions OptionsOf(Process process) {
    LaunchOptions options;
    for (const LaunchSetting& s : kLaunchSettings) {
        if (s.process != process) continue;
        options.inheritEnvironment = s.inheritEnvironment;
        options.ownSession = s.ownSession;
    }
    options.highPriority = false;
    return options;
}

std::string Address(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

}  // namespace

// A bridge: where its serial settings come from and the texts of its start.
struct CAuxProcesses::BridgeLaunch {
    Process process;
    const char* column;
    std::string CAuxProcesses::*com;
    BridgePorts CAuxProcesses::*ports;
    const char* argumentLine;  // followed by the command line and "\n"
    const char* createFailLine;
    const char* startedLine;  // followed by the process id and "."
    const char* registerName;
    std::string (*compose)(const std::string& path, const std::string& com,
                           const BridgePorts& ports);
};

// A process started with a per-user parameter row (path, argument string).
struct CAuxProcesses::PerUserLaunch {
    Process process;
    const std::string CAuxProcesses::*address;
    int (CDBoperations::*read)(const std::string& user, AuxProcParams& params);
    const char* nameWords;  // between the path and the argument string
    const char* readFailLine;
    int readFailMessage;
    const char* createFailLine;
    int createFailMessage;
    const char* registerName;
    const char* startedLine;
};

// A logger started by image name, found by the usual program search.
struct CAuxProcesses::ImageLaunch {
    Process process;
    const std::string CAuxProcesses::*address;
    const char* commandLine;
    const char* missingAddressLine;
    const char* createFailLine;
    const char* registerName;
    const char* startedLine;
};

namespace {

std::string ComposeTide(const std::string& path, const std::string& com,
                        const CAuxProcesses::BridgePorts& ports) {
    return path + " -com " + com + " -udpout " + std::to_string(ports.outPort) + " -confsock " +
           std::to_string(ports.confPort);
}

std::string ComposeKeel(const std::string& path, const std::string& com,
                        const CAuxProcesses::BridgePorts& ports) {
    return path + " -com " + com + " -udpin " + std::to_string(ports.inPort) + " -confsock " +
           std::to_string(ports.confPort);
}

std::string ComposeSvp(const std::string& path, const std::string& com,
                       const CAuxProcesses::BridgePorts& ports) {
    return path + " -com " + com + " -udpin " + std::to_string(ports.inPort) +
           " -udpout1 localhost," + std::to_string(ports.outPort) + " -confsock " +
           std::to_string(ports.confPort);
}

}  // namespace

const CAuxProcesses::BridgeLaunch CAuxProcesses::kTide{
    Process::TideBridge,
    "TideComParams",
    &CAuxProcesses::m_tideCom,
    &CAuxProcesses::m_tidePorts,
    "\n\t Realtime Tide RStoUDP argument:  ",
    "\n\tERROR: Not able to create Realtime Tide RS2UDP process, RESTART.",
    "\n\tStartet the Realtime Tide RS2UDP process with, pid: ",
    "RStoUDP_TIDE",
    &ComposeTide};

const CAuxProcesses::BridgeLaunch CAuxProcesses::kKeel{
    Process::KeelBridge,
    "KeelComParams",
    &CAuxProcesses::m_keelCom,
    &CAuxProcesses::m_keelPorts,
    "\n\t Depth Below Keel RStoUDP argument:  ",
    "\n\tERROR: Not able to create Depth Below Keel RS2UDP process, RESTART.",
    "\n\tStartet the Depth Below Keel RS2UDP process with pid: ",
    "RStoUDP_KEEL",
    &ComposeKeel};

const CAuxProcesses::BridgeLaunch CAuxProcesses::kSvp{
    Process::SvpLoggerBridge,
    "LoggerComParams",
    &CAuxProcesses::m_svpCom,
    &CAuxProcesses::m_svpPorts,
    "\n\tSVP Logger RStoUDP argument:  ",
    "\n\tERROR: Not able to create SVP Logger RS2UDP process, RESTART.",
    "\n\tStartet SVP Logger RS2UDP process with pid: ",
    "RStoUDP_Logger",
    &ComposeSvp};

const CAuxProcesses::PerUserLaunch CAuxProcesses::kApplanix{
    Process::ApplanixCtrl,
    &CAuxProcesses::m_applanixAddress,
    &CDBoperations::getAthProcParams,
    " -name APPLANIX ",
    "\n\tERROR: Not able to read APPLANIX_CTRL process parameters from PELDB. Try to restart.",
    kMsgApplanixRead,
    "\n\tERROR: Not able to create APPLANIX_CTRL process. Try to restart.",
    kMsgApplanixCreate,
    "APPLANIX_CTRL",
    "\n\tInfo: APPLANIX_CTRL process started \n"};

const CAuxProcesses::PerUserLaunch CAuxProcesses::kSrh{
    Process::SrhLogger,
    &CAuxProcesses::m_srhAddress,
    &CDBoperations::getSrhProcParams,
    " -name VORANTE_CTRL ",
    "\n\tERROR: Not able to read SRHLOGGER process parameters from PELDB. Try to restart.",
    kMsgSrhRead,
    "\n\tERROR: Not able to create SRHLOGGER process. Try to restart.",
    kMsgSrhCreate,
    "SRHLOGGER",
    "\n\tInfo: SRHLOGGER process started \n"};

const CAuxProcesses::ImageLaunch CAuxProcesses::kVmb{
    Process::VmbLogger,
    &CAuxProcesses::m_vmbAddress,
    "VMBLogger.exe -name VMBLOGGER ",
    "\n\tERROR: Not able to read VMBLOGGER process parameters from PELDB. Try to restart.",
    "\n\tERROR: Not able to create VMBLOGGER process. Try to restart.",
    "VMBLOGGER",
    "\n\tInfo: VMBLOGGER process started \n"};

const CAuxProcesses::ImageLaunch CAuxProcesses::kSpo{
    Process::SpoLogger,
    &CAuxProcesses::m_spoAddress,
    "Tandlog.exe -name SPOLOGGER ",
    "\n\tERROR: Not able to read SPOLOGGER process parameters from PELDB. Try to restart.",
    "\n\tERROR: Not able to create SPOLOGGER process. Try to restart.",
    "SPOLOGGER",
    "\n\tInfo: SPOLOGGER process started \n"};

CAuxProcesses::CAuxProcesses(CAuxContext context)
    : m_context(std::move(context)), m_processes(kProcessCapacity) {
    for (int& pid : m_pids) pid = -1;
    // Tide datagrams must reach the controller: the tide bridge writes to
    // the command port. The SVP logger bridge uses its fixed ports.
    m_tidePorts.outPort = PortOf("ZOR_CMD");
    m_svpPorts.confPort = PortOf("SSV_RS_CONF");
    m_svpPorts.inPort = PortOf("SSV_RS");
    m_svpPorts.outPort = PortOf("SSV_DATA");
}

CAuxProcesses::~CAuxProcesses() = default;

void CAuxProcesses::SetIoContext(std::shared_ptr<boost::asio::io_context> context) {
    m_io = std::move(context);
}

// ---- initialisation ---------------------------------------------------------

void CAuxProcesses::SetAddresses() {
    m_guiAddress = Address(kGuiPort);
    m_ssvAddress = Address(PortOf("SSV_CMD"));
    m_applanixAddress = Address(PortOf("APPLANIX_CMD"));
    m_srhAddress = Address(PortOf("VORANTE_CTRL"));
    m_rtcmAddress = Address(PortOf("RTCMLOGGER_CMD"));
    m_imuAddress = Address(PortOf("IMULOGGER_CMD"));
    m_vmbAddress = Address(PortOf("VMBLOGGER_CMD"));
    m_spoAddress = Address(PortOf("SPOLOGGER_CMD"));
}

void CAuxProcesses::DeriveKeelInputPort() {
    CDBoperations* db = m_context.db;
    if (db == nullptr) return;
    int dptPid = 0;
    if (db->getProcessPid("DPT", dptPid) != 0) dptPid = 0;
    std::vector<ProcessSocket> sockets;
    if (db->getProcessSockets("XDRZ_GENERIC_VS", sockets) != 0) return;
    for (const ProcessSocket& socket : sockets) {
        TraceJob("SetSocketData");
        if (dptPid != 0 && socket.pid == dptPid && socket.read_write == 1) {
            m_keelPorts.inPort = socket.port;
        }
    }
}

void CAuxProcesses::AllocateBridgePorts() {
    int port = 0;
    if (m_context.db != nullptr) m_context.db->allocateSounderPort(port);
    m_keelPorts.confPort = port;
    port = 0;
    if (m_context.db != nullptr) m_context.db->allocateSounderPort(port);
    m_tidePorts.confPort = port;
}

void CAuxProcesses::StartInitialProcesses() {
    StartTideBridge();
    StartKeelBridge();
    StartRtcmLogger(false);
    StartImuLogger();
    StartSvpLoggerBridge();
}

void CAuxProcesses::SendInitSentences() {
    if (!m_initSentencesPending) return;
    if (!m_applanixAddress.empty()) Send(kGreeting, m_applanixAddress);
    if (!m_srhAddress.empty()) Send(kGreeting, m_srhAddress);
    if (m_loggerStartedHere && !m_rtcmAddress.empty()) Send(kGreeting, m_rtcmAddress);
    m_initSentencesPending = false;
}

// ---- launches ---------------------------------------------------------------

void CAuxProcesses::StartTideBridge() {
    StartBridge(kTide);
}

void CAuxProcesses::StartKeelBridge() {
    StartBridge(kKeel);
}

void CAuxProcesses::StartSvpLoggerBridge() {
    StartBridge(kSvp);
}

void CAuxProcesses::StartApplanixCtrl() {
    StartPerUser(kApplanix);
}

void CAuxProcesses::StartSrhLogger() {
    StartPerUser(kSrh);
}

void CAuxProcesses::StartVmbLogger() {
    // The debug switch follows the blank after the name directly.
    const bool debug = std::getenv("VMBLOG") != nullptr;
    StartByImage(kVmb, debug ? "-debug 31" : "");
}

void CAuxProcesses::StartSpoLogger() {
    StartByImage(kSpo, "");
}

void CAuxProcesses::StartRtcmLogger(bool forced) {
    m_loggerStartedHere = false;
    if (!forced && !(TokenInt(kTokenInitStartDisable) == 0 && !m_rtcmAddress.empty())) return;

    AuxProcParams params;
    if (m_context.db == nullptr || m_context.db->getTerratecProcParams(m_userName, params) != 0) {
        TraceData(
            "\n\tERROR: Not able to read RTCMLOGGER process parameters from PELDB. Try to "
            "restart.");
        Report(kMsgRtcmRead);
        return;
    }
    if (IsImageRunning("Kestlog.exe")) {
        // Someone else runs the logger: tell it instead of starting another.
        if (!m_rtcmAddress.empty()) Send(kLoggerRunning, m_rtcmAddress);
        return;
    }
    m_loggerStartedHere = true;
    const std::string line =
        std::string(params.path) + " -name RTCMLOGGER " + std::string(params.argument_str);
    int& pid = PidRef(Process::RtcmLogger);
    pid = Spawn(line, OptionsOf(Process::RtcmLogger));
    if (pid == -1) {
        TraceData("\n\tERROR: Not able to create RTCMLOGGER process. Try to restart.\n");
        Report(kMsgRtcmCreate);
        return;
    }
    Register(pid, "RTCMLOGGER");
    TraceData("\n\tInfo: RTCMLOGGER process started \n");
}

void CAuxProcesses::StartImuLogger() {
    // Started under the same condition as the RTCM logger's own start.
    if (!(TokenInt(kTokenInitStartDisable) == 0 && !m_rtcmAddress.empty())) return;
    if (IsImageRunning("Morvlog.exe")) return;
    m_loggerStartedHere = true;
    int& pid = PidRef(Process::ImuLogger);
    pid = Spawn("Morvlog.exe -name IMULOGGER ", OptionsOf(Process::ImuLogger));
    if (pid == -1) {
        TraceData("\n\tERROR: Not able to create IMULOGGER process. Try to restart.\n");
    } else {
        TraceData("\n\tInfo: IMULOGGER process started \n");
    }
}

bool CAuxProcesses::IsImageRunning(const std::string& imageName) {
    return platform::IsImageRunning(imageName);
}

void CAuxProcesses::StartBridge(const BridgeLaunch& launch) {
    std::string& com = this->*launch.com;
    com.clear();
    if (m_context.db == nullptr || m_context.db->getShipParameter(launch.column, com) != 0) {
        com.clear();
        return;
    }
    // No serial settings: this bridge is not wanted.
    if (com.empty()) return;

    const std::string line = launch.compose(BridgePath(), com, this->*launch.ports);
    TraceData(launch.argumentLine + line + "\n");
    int& pid = PidRef(launch.process);
    pid = Spawn(line, OptionsOf(launch.process));
    if (pid == -1) {
        Report(kMsgBridgeCreate);
        TraceData(launch.createFailLine);
        return;
    }
    TraceData(launch.startedLine + std::to_string(pid) + ".");
    Register(pid, launch.registerName);
}

void CAuxProcesses::StartPerUser(const PerUserLaunch& launch) {
    if ((this->*launch.address).empty()) return;
    AuxProcParams params;
    if (m_context.db == nullptr || (m_context.db->*launch.read)(m_userName, params) != 0) {
        TraceData(launch.readFailLine);
        Report(launch.readFailMessage);
        return;
    }
    const std::string line =
        std::string(params.path) + launch.nameWords + std::string(params.argument_str);
    int& pid = PidRef(launch.process);
    pid = Spawn(line, OptionsOf(launch.process));
    if (pid == -1) {
        TraceData(launch.createFailLine);
        Report(launch.createFailMessage);
        return;
    }
    Register(pid, launch.registerName);
    TraceData(launch.startedLine);
}

void CAuxProcesses::StartByImage(const ImageLaunch& launch, const std::string& suffix) {
    if ((this->*launch.address).empty()) {
        TraceData(launch.missingAddressLine);
        return;
    }
    int& pid = PidRef(launch.process);
    pid = Spawn(launch.commandLine + suffix, OptionsOf(launch.process));
    if (pid == -1) {
        TraceData(launch.createFailLine);
        return;
    }
    Register(pid, launch.registerName);
    TraceData(launch.startedLine);
}

// ---- restart ----------------------------------------------------------------

void CAuxProcesses::BeginRestart(Bridge bridge) {
    const bool tide = bridge == Bridge::Tide;
    (tide ? m_tideAttempts : m_keelAttempts) = 0;
    const int confPort = (tide ? m_tidePorts : m_keelPorts).confPort;
    // Ask the old bridge to end, so that the restart need not wait for it.
    if (confPort > 0 && confPort <= 65535) Send(kQuit, Address(static_cast<uint16_t>(confPort)));
}

CAuxProcesses::RestartResult CAuxProcesses::RestartStep(Bridge bridge) {
    const bool tide = bridge == Bridge::Tide;
    const std::string name = tide ? "Realtime Tide RS2UDP" : "Depth Below Keel RS2UDP";
    int& pid = PidRef(tide ? Process::TideBridge : Process::KeelBridge);
    int& attempts = tide ? m_tideAttempts : m_keelAttempts;

    if (pid == -1 || !platform::IsProcessRunning(pid)) {
        if (tide) {
            StartTideBridge();
        } else {
            StartKeelBridge();
        }
        return RestartResult::Started;
    }

    const int waited = m_processes.Wait(pid, kRestartWait);
    const std::string id = std::to_string(pid);
    if (waited == pid) {
        TraceData("\n\tProcess " + name + " with pid = " + id + " terminated OK.");
        pid = -1;
    } else if (waited == -1) {
        TraceData("\n\tError terminating process " + name + " with pid = " + id);
    } else if (waited == 0) {
        TraceData("\n\tTimeout waiting for process " + name + " with pid = " + id +
                  " to terminate");
    } else {
        TraceData("\n\tUnknown error terminating process " + name + " with pid = " + id + ".");
    }

    if (attempts++ >= kRestartGiveUpAttempts) {
        // Given up: the old bridge is left alone and a new one started next.
        TraceData("\n\tThird attemt waiting for " + name +
                  " process with pid = " + std::to_string(pid) + " to terminate. Continue");
        pid = -1;
    }
    return RestartResult::StillRunning;
}

int CAuxProcesses::RestartAttempts(Bridge bridge) const {
    return bridge == Bridge::Tide ? m_tideAttempts : m_keelAttempts;
}

int CAuxProcesses::Pid(Process process) const {
    return m_pids[static_cast<int>(process)];
}

// ---- helpers ----------------------------------------------------------------

int CAuxProcesses::Spawn(const std::string& commandLine, const platform::LaunchOptions& options) {
    const int pid = m_processes.Spawn(commandLine, options);
    if (pid == -1) TraceData("\n\tInfo: " + m_processes.LastError() + "\n");
    return pid;
}

std::string CAuxProcesses::BridgePath() {
    Rs2UdpParams params;
    if (m_context.db == nullptr || m_context.db->getRs2UdpParams(params) != 0) return {};
    return params.rs_path;
}

int CAuxProcesses::TokenInt(const std::string& name) {
    try {
        if (m_context.tokenInt) return m_context.tokenInt(name);
        return CGetToken::instance().getTokValueInt(name);
    } catch (const std::exception&) {
        return 0;
    }
}

void CAuxProcesses::Report(int number) {
    if (m_context.messages != nullptr) m_context.messages->reportNumber(number);
}

void CAuxProcesses::Register(int pid, const char* name) {
    if (m_context.db != nullptr) m_context.db->registerPid(pid, name);
}

void CAuxProcesses::TraceData(const std::string& text) const {
    if (m_context.traceData) m_context.traceData(text);
}

void CAuxProcesses::TraceJob(const std::string& text) const {
    if (m_context.traceJob) m_context.traceJob(text);
}

void CAuxProcesses::Send(const std::string& text, const std::string& address) {
    const CPELSignal signal(0, CFsmPayload::Copy(text));
    SendPayload(signal, address, m_io);
}

int& CAuxProcesses::PidRef(Process process) {
    return m_pids[static_cast<int>(process)];
}
