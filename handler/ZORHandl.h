#pragma once
// The handler of one echo sounder: a state machine that reads the sounder's
// process parameters, starts its two distribution processes (DRZ and XDRZ),
// tells them where to write raw data and when to log, relays sentences to
// them or back to the controller, and on destruction asks both processes to
// quit and waits for them.
//
// Created, started and destroyed by the controller on the controller's
// worker thread; its jobs run on its own worker thread. The controller is
// known to it only as the sender of INIT_PARAM.

#include <ApplFsm.h>
#include <DBoperations.h>
#include <DbRecords.h>
#include <MessageFsmInterf.h>
#include <Process.h>
#include <Receiver.h>
#include <log4cplus/logger.h>

#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "DiskManager.h"
#include "RawDataPaths.h"

class CZORHandl : public CApplFsm<CZORHandl, CPELSignal> {
  public:
    enum : int32_t {
        ZPEL_IDLE = 1,
        ZPEL_DBINIT = 2,
        ZPEL_START_HANDL = 3,
        ZPEL_ACTIVE = 4,
        CLOSEDOWN = 5,
    };

    // Signals the handler posts or takes by number.
    enum : int32_t {
        kDbReadCompl = 52002,  // DB_READ_COMPL
        kTerminated = 54005,   // TERMINATED
        kInitParam = 54008,    // INIT_PARAM
        kStartCompl = 54010,   // START_COMPL
    };

    // How long the handler waits after starting its processes before it
    // greets them, and how long its destructor waits for them to end.
    static constexpr int32_t kStartDelayMs = 4000;
    static constexpr int kProcessWaitSeconds = 20;
    static constexpr std::size_t kProcessCapacity = 100;

    // name: the machine name of every trace line; initialState: 1
    // ("ZPEL_IDLE") from the controller; trace: the trace log, null when
    // tracing is off; debugMask: the trace selection. Logs in to the suite
    // database with a connection of its own.
    CZORHandl(const char* name, int32_t initialState, LogTrace* trace, uint8_t debugMask);
    CZORHandl(const std::string& name, int32_t initialState, LogTrace* trace, uint8_t debugMask)
        : CZORHandl(name.c_str(), initialState, trace, debugMask) {}
    // Stops the receiver and the threads, sends "$ZQPEL,24,\n\r" to XDRZ
    // and then DRZ, and waits up to 20 s for the processes it started.
    ~CZORHandl() override;

    // The process-wide UDP I/O context; hand it over before StartFsm.
    void SetIoContext(std::shared_ptr<boost::asio::io_context> context);

    void InitJob() override;

    // ---- jobs of the table ------------------------------------------------
    void JobError(SignalSlot& slot);
    void JobDisregardSig(SignalSlot& slot);
    void JobGetProcInfo(SignalSlot& slot);
    void JobStartHandl(SignalSlot& slot);
    void JobStartProcess(SignalSlot& slot);
    void JobPrepLogNewFmt(SignalSlot& slot);
    void JobPrepStopNewFmt(SignalSlot& slot);
    void JobStopPingNewFmt(SignalSlot& slot);
    void JobChgSurvey(SignalSlot& slot);
    void JobRelayDRZ(SignalSlot& slot);
    void JobRelayXDRZ(SignalSlot& slot);
    void JobRelayDRZXDRZ(SignalSlot& slot);
    void JobRelayZORControl(SignalSlot& slot);
    void JobPortClosed(SignalSlot& slot);
    void JobTerminate(SignalSlot& slot);

    // The data callback of the handler's receiver (runs on the I/O thread):
    // every datagram becomes a signal at the back of the handler's queue.
    void OnDatagram(const char* bytes, std::size_t count);

    // ---- for the owner's checks and tests; read on the worker thread or
    // after the job that wrote them has been seen to finish ----------------
    const std::string& DrzEndpoint() const { return m_drzEndpoint; }
    const std::string& XdrzEndpoint() const { return m_xdrzEndpoint; }
    const std::string& SurveyName() const { return m_surveyName; }
    uint16_t SounderType() const { return m_sounderType; }
    uint16_t SerialNumber() const { return m_serialNumber; }
    // The survey-settings group: the DRZ process name without its first
    // four characters.
    std::string GroupName() const;

    // The clock of the raw-data paths (the system's UTC time by default).
    using Clock = std::time_t (*)();
    void SetClock(Clock clock) { m_clock = clock; }

    static const State s_states[];
    static const Row s_idleRows[];
    static const Row s_dbInitRows[];
    static const Row s_startRows[];
    static const Row s_activeRows[];
    static const StateList kStateList;

  private:
    // Sends the sentence as the payload of a signal numbered `number` to the
    // endpoint; nothing for an empty endpoint.
    void SendSentence(int32_t number, const std::string& sentence, const std::string& endpoint);
    void SendSignalPayload(const CPELSignal& signal, const std::string& endpoint);
    // Sends "$ZQPEL,756,<label>\n\r" to XDRZ when the raw-data root is set.
    void ReportVolumeLabel();
    // The raw-data path for logging (stop = false) or its end (stop = true).
    std::string BuildPath(const std::string& counter, bool stop);
    // Sentence 1 (start of logging) or 25 (stop) with the file path to DRZ,
    // after the label report when the sentence asks for it.
    void SendFilePath(SignalSlot& slot, bool stop);
    void LoadSurveyName();
    void ReleasePayload(SignalSlot& slot);
    void OnReceiverLog(const std::string& text);
    // Starts one distribution process; its pid, or -1.
    int StartProcess(const std::string& commandLine);

    CDiskManager<CZORHandl> m_diskManager;
    CFsmBase* m_controller = nullptr;  // not owned
    CDBoperations m_db;
    CMessageFsmInterf m_messages;
    bool m_paramsRead = true;
    bool m_startFailed = false;
    std::shared_ptr<boost::asio::io_context> m_ioContext;
    std::string m_drzEndpoint;
    std::string m_xdrzEndpoint;
    std::unique_ptr<ua::sockudp::receiver> m_receiver;
    uint16_t m_sounderType = 0;
    uint16_t m_serialNumber = 0;
    std::unique_ptr<DrzProcParams> m_drzProc;
    std::unique_ptr<XdrzProcParams> m_xdrzProc;
    std::string m_surveyName;  // at most rawdata::kSurveyNameChars
    std::unique_ptr<platform::ProcessManager> m_processes;
    log4cplus::Logger m_logger;
    Clock m_clock = nullptr;
};
