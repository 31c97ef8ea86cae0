#pragma once
// The intake of the command port: each datagram becomes a signal at the
// back of a machine's external queue, or a report when it is not
// recognised. Runs on the I/O thread as the receiver's data callback; holds
// no state between datagrams.

#include <Receiver.h>
#include <log4cplus/logger.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CFsmBase;
class LogTrace;

// What a datagram means, decided from its bytes alone.
struct CIntakeVerdict {
    enum class Kind {
        Signal,      // post `number`
        Unknown,     // report `text` (report text plus at most 15 bytes)
        Conversion,  // "$ZQPEL," without a usable sentence number: `text`
    };
    Kind kind = Kind::Unknown;
    int32_t number = 0;
    std::string text;
};

class CCommandIntake {
  public:
    static constexpr size_t kReportBytes = 15;  // datagram bytes in a report
    static constexpr int32_t kSentenceBase = 50000;
    static constexpr int32_t kTide = 59100;
    static constexpr int32_t kNmeaApb = 58011;
    static constexpr int32_t kNmeaXte = 58012;
    static constexpr int32_t kRemoteBase = 51100;

    // target: the machine whose external queue receives the signals.
    // sender: the machine named as the signals' sender (the controller).
    // trace, traceData: the trace log (may be null) and whether the owner's
    //   data lines are on; machineName heads the trace lines.
    CCommandIntake(CFsmBase* target, CFsmBase* sender, LogTrace* trace = nullptr,
                   bool traceData = false, std::string machineName = std::string());

    CCommandIntake(const CCommandIntake&) = delete;
    CCommandIntake& operator=(const CCommandIntake&) = delete;

    // The data callback: reads only the first `count` bytes of `bytes`.
    void OnDatagram(const char* bytes, size_t count);
    // The log callback: the receiver's status text as a data trace line and
    // an information entry on "ZORCtrl".
    void OnReceiverLog(const std::string& text);

    // Callbacks bound to this intake, for the receiver.
    ua::sockudp::receiver::data_callback DataCallback();
    ua::sockudp::receiver::log_callback LogCallback();

    // The decision alone, without side effects.
    static CIntakeVerdict Classify(const char* bytes, size_t count);

  private:
    void TraceText(const std::string& text);

    CFsmBase* m_target;
    CFsmBase* m_sender;
    LogTrace* m_trace;
    uint8_t m_traceFlags;
    std::string m_machineName;
    log4cplus::Logger m_logger;
};
