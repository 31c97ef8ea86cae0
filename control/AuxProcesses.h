#pragma once
// The controller's auxiliary processes: the three serial-to-UDP bridges
// (real-time tide, depth below keel, SVP logger), the APPLANIX_CTRL process
// and the SRH, RTCM, IMU, VMB and SPO loggers.
//
// This object owns what the controller keeps about them: the process
// manager every one of them is started through (so that the controller can
// wait for all of them at the end), their process ids, the bridges' ports
// and serial settings, and the UDP command addresses of the GUI and of the
// auxiliary processes. It composes each command line, writes the trace
// lines, reports the operator messages and registers the process ids.
//
// Threads: used by one thread at a time, the controller's (the main thread
// during initialisation, the controller's worker thread afterwards). It has
// no lock; its accessors are for that same thread.
//
// Trace texts are built as plain strings (never with received or stored
// data as a format) and handed to the sinks of the context; a null sink
// drops them.

#include <Process.h>

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CDBoperations;
class CMessages;

// What the auxiliary processes need from the controller. Every pointer is
// borrowed and must outlive the CAuxProcesses object.
struct CAuxContext {
    // The controller's database object (parameter reads, registerPid,
    // port allocation). Null: every read fails.
    CDBoperations* db = nullptr;
    // Where operator messages are reported (reportNumber). Null: dropped.
    CMessages* messages = nullptr;
    // Reads an integer token; empty: CGetToken::instance().getTokValueInt.
    std::function<int(const std::string&)> tokenInt;
    // The controller's data trace (lines beginning "\n\tERROR: " and the
    // like; the controller writes them when its data bit is set).
    std::function<void(const std::string&)> traceData;
    // The controller's job trace ("SetSocketData").
    std::function<void(const std::string&)> traceJob;
};

class CAuxProcesses {
  public:
    // The auxiliary processes, one process id each.
    enum class Process {
        ApplanixCtrl,
        SrhLogger,
        RtcmLogger,
        ImuLogger,
        TideBridge,
        KeelBridge,
        SvpLoggerBridge,
        VmbLogger,
        SpoLogger,
    };
    static constexpr int kProcessCount = 9;

    // The two bridges an operator can restart.
    enum class Bridge { Tide, Keel };

    // What one restart step did.
    enum class RestartResult {
        Started,       // a new bridge was launched (or its launch failed and
                       // was reported): the restart cycle is complete
        StillRunning,  // the old bridge was waited for; try again later
    };

    // Ports of one bridge; 0 when not set.
    struct BridgePorts {
        int confPort = 0;  // -confsock
        int inPort = 0;    // -udpin
        int outPort = 0;   // -udpout / -udpout1
    };

    static constexpr std::size_t kProcessCapacity = 100;
    // The user whose rows the per-user process parameter tables give.
    static constexpr const char* kUserName = "ZQ user";
    static constexpr const char* kTokenInitStartDisable = "RUNT_PARAM_RTCM_INIT_START_DISABLE";
    // How long one restart step waits for the old bridge.
    static constexpr std::chrono::milliseconds kRestartWait{1000};
    // A bridge still running after this many waits is given up at the next
    // one (the fourth).
    static constexpr int kRestartGiveUpAttempts = 3;

    // Message numbers.
    static constexpr int kMsgBridgeCreate = 447;
    static constexpr int kMsgApplanixRead = 560;
    static constexpr int kMsgApplanixCreate = 559;
    static constexpr int kMsgSrhRead = 573;
    static constexpr int kMsgSrhCreate = 572;
    static constexpr int kMsgRtcmRead = 575;
    static constexpr int kMsgRtcmCreate = 574;

    // All addresses empty, all process ids -1, no ports allocated; the tide
    // bridge's output port is the command port (4001) and the SVP logger
    // bridge's ports are the fixed "SSV_RS_CONF", "SSV_RS" and "SSV_DATA".
    explicit CAuxProcesses(CAuxContext context);
    ~CAuxProcesses();
    CAuxProcesses(const CAuxProcesses&) = delete;
    CAuxProcesses& operator=(const CAuxProcesses&) = delete;

    // The I/O context the greeting, "$ZQPEL,15" and restart sentences are
    // sent through (SendPayload). Set it once the controller has created
    // it; before that nothing can be sent.
    void SetIoContext(std::shared_ptr<boost::asio::io_context> context);

    // ---- initialisation, in the controller's order ------------------------
    // Sets the GUI address "127.0.0.1:4002" and the seven command addresses
    // "127.0.0.1:<port>" (SSV_CMD, APPLANIX_CMD, VORANTE_CTRL,
    // RTCMLOGGER_CMD, IMULOGGER_CMD, VMBLOGGER_CMD, SPOLOGGER_CMD).
    void SetAddresses();
    // The keel bridge's input port: the port of the "XDRZ_GENERIC_VS" socket
    // record whose process id is the one registered for "DPT" and whose
    // read/write field is 1 (the last such record). One job trace line
    // "SetSocketData" per record. A failed read leaves the port unset.
    void DeriveKeelInputPort();
    // Allocates the keel bridge's configuration port, then the tide
    // bridge's (allocateSounderPort: 0 without the local port database, -1
    // when the allocation fails; used as given).
    void AllocateBridgePorts();
    // The launches of initialisation: tide bridge, keel bridge, RTCM logger
    // (not forced), IMU logger, SVP logger bridge.
    void StartInitialProcesses();
    // Sends "$ZQPEL,6,\n\r" to the APPLANIX and SRH logger addresses and,
    // when a start of the RTCM or IMU logger was attempted here, to the RTCM
    // logger address; only the first call sends.
    void SendInitSentences();

    // ---- launches --------------------------------------------------------
    // Each reports its own failures (data trace line, message number where
    // the process has one) and leaves the process id at -1 then. A command
    // line the process layer refuses (too long, unusable) is a failed start.
    void StartTideBridge();
    void StartKeelBridge();
    void StartSvpLoggerBridge();
    void StartApplanixCtrl();
    void StartSrhLogger();
    void StartRtcmLogger(bool forced);
    void StartImuLogger();
    void StartVmbLogger();
    void StartSpoLogger();

    // True when a process with this image name runs (letter case ignored).
    static bool IsImageRunning(const std::string& imageName);

    // ---- restart of the tide and keel bridges ----------------------------
    // The prepare step: resets the bridge's attempt counter and, when its
    // configuration port is above 0, sends "$ZQPEL,24,\n\r" to
    // 127.0.0.1:<configuration port> so that the old bridge ends.
    void BeginRestart(Bridge bridge);
    // One restart step. Bridge never started or no longer running: starts
    // a new one and returns Started. Otherwise waits up to 1 s for it
    // (blocking), writes one of the four wait lines, counts the attempt
    // (from the fourth on the old bridge is given up, its id forgotten, with
    // the "Third attemt" line) and returns StillRunning.
    RestartResult RestartStep(Bridge bridge);
    int RestartAttempts(Bridge bridge) const;

    // ---- state -----------------------------------------------------------
    // -1 until the process was started by this object.
    int Pid(Process process) const;
    // Set when a start of the RTCM or IMU logger was attempted, cleared at
    // the beginning of every RTCM logger start.
    bool LoggerStartedHere() const { return m_loggerStartedHere; }
    bool InitSentencesPending() const { return m_initSentencesPending; }

    const BridgePorts& TidePorts() const { return m_tidePorts; }
    const BridgePorts& KeelPorts() const { return m_keelPorts; }
    const BridgePorts& SvpLoggerPorts() const { return m_svpPorts; }
    // The serial settings last read for each bridge.
    const std::string& TideComParams() const { return m_tideCom; }
    const std::string& KeelComParams() const { return m_keelCom; }
    const std::string& SvpLoggerComParams() const { return m_svpCom; }

    // Command addresses; empty until SetAddresses.
    const std::string& GuiAddress() const { return m_guiAddress; }
    const std::string& SsvAddress() const { return m_ssvAddress; }
    const std::string& ApplanixAddress() const { return m_applanixAddress; }
    const std::string& SrhLoggerAddress() const { return m_srhAddress; }
    const std::string& RtcmLoggerAddress() const { return m_rtcmAddress; }
    const std::string& ImuLoggerAddress() const { return m_imuAddress; }
    const std::string& VmbLoggerAddress() const { return m_vmbAddress; }
    const std::string& SpoLoggerAddress() const { return m_spoAddress; }

    const std::string& UserName() const { return m_userName; }

    // The process manager every auxiliary process is started through; the
    // controller waits for all of them at the end (WaitAll).
    platform::ProcessManager& Processes() { return m_processes; }

  private:
    struct BridgeLaunch;
    struct PerUserLaunch;
    struct ImageLaunch;
    static const BridgeLaunch kTide;
    static const BridgeLaunch kKeel;
    static const BridgeLaunch kSvp;
    static const PerUserLaunch kApplanix;
    static const PerUserLaunch kSrh;
    static const ImageLaunch kVmb;
    static const ImageLaunch kSpo;

    void StartBridge(const BridgeLaunch& launch);
    void StartPerUser(const PerUserLaunch& launch);
    void StartByImage(const ImageLaunch& launch, const std::string& suffix);
    // Starts one command line; the process id or -1 (the process layer's
    // reason goes to the data trace).
    int Spawn(const std::string& commandLine, const platform::LaunchOptions& options);
    // The bridge executable (empty when the read fails).
    std::string BridgePath();
    int TokenInt(const std::string& name);
    void Report(int number);
    void Register(int pid, const char* name);
    void TraceData(const std::string& text) const;
    void TraceJob(const std::string& text) const;
    void Send(const std::string& text, const std::string& address);
    int& PidRef(Process process);

    CAuxContext m_context;
    std::shared_ptr<boost::asio::io_context> m_io;
    platform::ProcessManager m_processes;

    std::string m_guiAddress;
    std::string m_ssvAddress;
    std::string m_applanixAddress;
    std::string m_srhAddress;
    std::string m_rtcmAddress;
    std::string m_imuAddress;
    std::string m_vmbAddress;
    std::string m_spoAddress;

    BridgePorts m_tidePorts;
    BridgePorts m_keelPorts;
    BridgePorts m_svpPorts;
    std::string m_tideCom;
    std::string m_keelCom;
    std::string m_svpCom;

    int m_pids[kProcessCount];
    int m_tideAttempts = 0;
    int m_keelAttempts = 0;
    bool m_initSentencesPending = true;
    bool m_loggerStartedHere = false;
    std::string m_userName{kUserName};
};
