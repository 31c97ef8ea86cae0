#pragma once
// The controller: the one top-level machine of ZOR. It owns the command
// port, the auxiliary processes, the grid-server client and the registry of
// sounder handlers; it relays sentences to handlers, auxiliary processes and
// the GUI, and drives the shutdown.
//
// Threads: constructed, started (InitJob) and destroyed on the main thread;
// every job runs on the machine's worker thread. The registry is touched by
// the worker thread only.

#include <ApplFsm.h>
#include <ControlSentences.h>
#include <FsmSignal.h>

#include <QObject>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

class CAuxProcesses;
class CCommandIntake;
class CDBoperations;
class CGridServerClient;
class CMessages;
class LogTrace;
namespace ua::sockudp {
class receiver;
class io_thread;
}  // namespace ua::sockudp

// Makes one sounder handler: constructs it in its first state with this
// name, trace sink and debug mask, hands it the I/O context and starts it
// (StartFsm with priority 0, so its InitJob runs on the calling thread).
// Null when no handler could be made.
using HandlerFactory = std::function<std::unique_ptr<CFsmBase>(
    const std::string& name, LogTrace* trace, uint8_t debugMask,
    std::shared_ptr<boost::asio::io_context> io)>;

// How a controller is set up beyond its name, state, trace and mask.
struct CControlSetup {
    // Makes the handlers of a start list; empty: the sounders are entered
    // into the registry without a handler.
    HandlerFactory handlerFactory;
    // Port of the command receiver; 0 binds an ephemeral one.
    uint16_t commandPort = 4001;
    // Start-up launches the auxiliary processes and the grid server, and
    // greets the auxiliary processes; false keeps start-up to the command
    // port, the addresses and the I/O thread.
    bool launchProcesses = true;
    // The relays give a process they have just started its pause before
    // the first sentence; false skips the pause.
    bool pauseAfterStart = true;
    // The destructor ends the process: the shutdown script, then exit
    // status 0 without running any further destructor.
    bool endProcess = false;
    // Database object and message catalogue of the controller's thread;
    // null: the process-wide ones.
    CDBoperations* db = nullptr;
    CMessages* messages = nullptr;
};

class CZORControl : public QObject, public CApplFsm<CZORControl, CPELSignal> {
    Q_OBJECT

  public:
    enum StateNumber {
        START_HANDL = 1,
        WAIT_HANDL_COMPL,
        SUPERVISE,
        WAIT_TIDESTART,
        WAIT_SSVSTART,
        STATE_TERMINATE,
        DBERROR,
    };

    // The signals of the table (names of the signal vocabulary).
    enum SignalNumber : int32_t {
        ZQPEL_5 = 50005,
        ZQPEL_6 = 50006,
        ZQPEL_13 = 50013,
        ZQPEL_18 = 50018,
        ZQPEL_19 = 50019,
        ZQPEL_20 = 50020,
        ZQPEL_21 = 50021,
        ZQPEL_22 = 50022,
        ZQPEL_24 = 50024,
        ZQPEL_32 = 50032,
        ZQPEL_38 = 50038,
        ZQPEL_39 = 50039,
        ZQPEL_60 = 50060,
        ZQPEL_61 = 50061,
        ZQPEL_62 = 50062,
        ZQPEL_66 = 50066,
        ZQPEL_71 = 50071,
        ZQPEL_72 = 50072,
        ZQPEL_76 = 50076,
        ZQPEL_77 = 50077,
        ZQPEL_78 = 50078,
        ZQPEL_80 = 50080,
        ZQPEL_95 = 50095,
        ZQPEL_96 = 50096,
        ZQPEL_100 = 50100,
        ZQPEL_150 = 50150,
        ZQPEL_151 = 50151,
        ZQPEL_152 = 50152,
        ZQPEL_155 = 50155,
        ZQPEL_156 = 50156,
        ZQPEL_157 = 50157,
        ZQPEL_160 = 50160,
        ZQPEL_161 = 50161,
        ZQPEL_162 = 50162,
        ZQPEL_170 = 50170,
        ZQPEL_171 = 50171,
        ZQPEL_172 = 50172,
        ZQPEL_176 = 50176,
        ZQPEL_177 = 50177,
        ZQPEL_178 = 50178,
        ZQPEL_179 = 50179,
        ZQPEL_180 = 50180,
        ZQPEL_181 = 50181,
        ZQPEL_471 = 50471,
        ZQPEL_473 = 50473,
        ZQPEL_474 = 50474,
        ZQPEL_475 = 50475,
        ZQPEL_702 = 50702,
        ZQPEL_762 = 50762,
        R20 = 51120,
        STARTED_OK = 54002,
        INIT_COMPL = 54003,
        INIT_TIMEOUT = 54004,
        TERMINATED = 54005,
        INIT_PARAM = 54008,
        TERM_EXPIRED = 54013,
        FINISH_TERM = 54014,
        SSV_START_COMPL = 54022,
        TIDE_START_TIMEOUT = 54036,
        TERM_TIDE_EXPIRED = 54037,
        TIDE_START_COMPL = 54038,
        KEEL_START_TIMEOUT = 54039,
        TERM_KEEL_EXPIRED = 54040,
        KEEL_START_COMPL = 54041,
        LOGGER_START_TIMEOUT = 54045,
        TERM_LOGGER_EXPIRED = 54045,
        LOGGER_START_COMPL = 54046,
        BARO_START_TIMEOUT = 54047,
        TERM_BARO_EXPIRED = 54048,
        BARO_START_COMPL = 54049,
        GEODI_START_TIMEOUT = 54050,
        TERM_GEODI_EXPIRED = 54051,
        GEODI_START_COMPL = 54052,
        NMEA_APB = 58011,
        NMEA_XTE = 58012,
        TIDE = 59100,
    };

    // The termination sentence, as received and as sent at shutdown.
    static constexpr std::string_view kTerminateSentence{"$ZQPEL,24,\n\r"};

    // Timings.
    static constexpr int32_t kBridgeStartTimeoutMs = 15000;
    static constexpr int32_t kBridgeTermExpiryMs = 3000;
    static constexpr int32_t kTermExpiryMs = 10000;
    static constexpr std::chrono::seconds kProcessWait{20};
    static constexpr std::chrono::seconds kGridReplyWait{2};

    // Message numbers.
    static constexpr int kMsgMissingHandler = 431;
    static constexpr int kMsgGarbled = 433;
    static constexpr int kMsgTideRestart = 429;
    static constexpr int kMsgKeelRestart = 428;

    // Sounder types for which a handler is made.
    static bool MakesHandler(uint16_t type);

    CZORControl(const char* name, int32_t initialState, LogTrace* trace, uint8_t debugMask,
                CControlSetup setup = {});
    // Stops the receiver, the I/O thread and the machine, waits for the
    // processes started, and (with setup.endProcess) runs the shutdown
    // script and ends the process with status 0.
    ~CZORControl() override;

    void InitJob() override;

    // False when start-up could not bind the command port; the reason is in
    // CommandPortError().
    // From now on the destructor ends the process (see CControlSetup).
    void SetEndProcess(bool on) { m_setup.endProcess = on; }

    bool CommandPortOpen() const { return m_commandPortOpen; }
    const std::string& CommandPortError() const { return m_commandPortError; }
    // The bound command port (0 before start-up or when binding failed).
    uint16_t CommandPort() const;

    // The handler of a sounder, null when none (or no entry); the number of
    // registry entries. Worker thread, or while the machine does not run.
    CFsmBase* HandlerOf(CSounderKey key) const;
    bool HasEntry(CSounderKey key) const { return m_byKey.count(key) != 0; }
    size_t RegistrySize() const { return m_byKey.size(); }

    // Finds the handler a sentence addresses in its third field; traces
    // and reports why when there is none.
    CFsmBase* FindHandler(const char* payload, int32_t length);

    CAuxProcesses& Aux() { return *m_aux; }
    CGridServerClient& Grid() { return *m_grid; }
    const std::shared_ptr<boost::asio::io_context>& IoContext() const { return m_io; }

    // ---- the jobs of the table --------------------------------------------
    // The framework's Save as a member of this class: the table then holds
    // no pointer into a base class, whose call would need a this-adjustment
    // across the QObject base (which GCC's vptr sanitizer misreports).
    void Save(SignalSlot& slot) { CApplFsm::Save(slot); }
    void JobError(SignalSlot& slot);
    void JobDisregardSig(SignalSlot& slot);
    void JobDropSilent(SignalSlot& slot);

    void JobStartHandl(SignalSlot& slot);
    void JobInitHandl(SignalSlot& slot);
    void JobBeginSuperv(SignalSlot& slot);
    void JobHandlTerm(SignalSlot& slot);
    void JobTermAllHandl(SignalSlot& slot);

    void JobAliveResp(SignalSlot& slot);
    void JobPrepRestartTIDE(SignalSlot& slot);
    void JobPrepRestartKEEL(SignalSlot& slot);
    void JobRestartTide(SignalSlot& slot);
    void JobRestartKeel(SignalSlot& slot);
    void JobTideStartTimeout(SignalSlot& slot);
    void JobKeelStartTimeout(SignalSlot& slot);

    void JobRelayCommand(SignalSlot& slot);
    void JobRelayCommandAll(SignalSlot& slot);
    void JobRelayToGUI(SignalSlot& slot);
    void JobRelayATH(SignalSlot& slot);
    void JobRelayRTCMLogger(SignalSlot& slot);
    void JobRelaySRHLogger(SignalSlot& slot);
    void JobRelayIMULogger(SignalSlot& slot);
    void JobRelayVMBLogger(SignalSlot& slot);
    void JobRelaySPOLogger(SignalSlot& slot);
    void JobNewExternalSV(SignalSlot& slot);
    void JobHandleRemote(SignalSlot& slot);
    void JobUpdateSubscription(SignalSlot& slot);
    void JobRelayLogging(SignalSlot& slot);

    void JobPrepTerminate(SignalSlot& slot);
    void JobHandlerTermResp(SignalSlot& slot);
    void JobTerminate(SignalSlot& slot);

    static const State s_states[];
    static const StateList kStateList;

  signals:
    void terminate();

  public slots:
    void StartTesseraCont();

  private:
    struct ProcessRelay;
    enum class Bridge { Tide, Keel };

    static const Row s_startHandlRows[];
    static const Row s_waitHandlComplRows[];
    static const Row s_superviseRows[];
    static const Row s_waitTidestartRows[];
    static const Row s_waitSsvstartRows[];
    static const Row s_stateTerminateRows[];
    static const Row s_dbErrorRows[];

    bool OpenCommandPort();
    void RelayToHandler(SignalSlot& slot, long long type, long long serial);
    void RelayToProcess(SignalSlot& slot, const ProcessRelay& relay);
    // Hands a copy of the signal to every handler `accept` lets through.
    void CopyToHandlers(const CPELSignal& signal, const std::function<bool(CSounderKey)>& accept);
    // Removes the handler that sent `signal` from the registry and deletes
    // it; false when the sender is not a registered handler.
    bool RemoveHandler(const CPELSignal& signal);
    size_t HandlerCount() const;
    void PrepRestart(Bridge bridge, SignalSlot& slot);
    void RestartStep(Bridge bridge, SignalSlot& slot);
    void SendText(const std::string& text, const std::string& address);
    void TraceLine(const std::string& text);
    void TraceJobLine(const std::string& text);

    CControlSetup m_setup;
    uint8_t m_debugMask;
    std::shared_ptr<boost::asio::io_context> m_io;
    std::unique_ptr<CCommandIntake> m_intake;
    std::unique_ptr<ua::sockudp::receiver> m_receiver;
    std::unique_ptr<ua::sockudp::io_thread> m_ioThread;
    CDBoperations* m_db;
    CMessages* m_messages;
    std::unique_ptr<CAuxProcesses> m_aux;
    std::unique_ptr<CGridServerClient> m_grid;
    // The registry: sounder key to its handler (or none), and handler to
    // its key.
    std::map<CSounderKey, std::unique_ptr<CFsmBase>> m_byKey;
    std::map<const CFsmBase*, CSounderKey> m_byHandler;
    bool m_commandPortOpen = false;
    std::string m_commandPortError;
};
