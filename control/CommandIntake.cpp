#include "CommandIntake.h"

#include <FsmBase.h>
#include <FsmTrace.h>
#include <LogTrace.h>
#include <log4cplus/loggingmacros.h>

#include <cstring>
#include <limits>

namespace {

constexpr char kAddress[] = "$ZQPEL,";
constexpr size_t kAddressLength = sizeof kAddress - 1;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The sentence number of "$ZQPEL," sentence: the second comma-separated
// field of the text up to the first zero byte, read as a decimal integer
// (leading white space and sign allowed, anything after the digits
// ignored). The signal number 50000 + n must be a positive 32-bit integer.
CIntakeVerdict SentenceVerdict(const char* bytes, size_t count) {
    const void* zero = std::memchr(bytes, '\0', count);
    const size_t end = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : count;
    // The second field starts right after the address's comma and ends at
    // the next comma or the end of the sentence text.
    size_t pos = kAddressLength;
    size_t fieldEnd = pos;
    while (fieldEnd < end && bytes[fieldEnd] != ',') ++fieldEnd;

    CIntakeVerdict verdict;
    verdict.kind = CIntakeVerdict::Kind::Conversion;
    if (pos == fieldEnd && fieldEnd == end) {
        verdict.text = "Sentence number conversion failed: no sentence number field";
        return verdict;
    }
    while (pos < fieldEnd && IsSpace(bytes[pos])) ++pos;
    bool negative = false;
    if (pos < fieldEnd && (bytes[pos] == '+' || bytes[pos] == '-')) {
        negative = bytes[pos] == '-';
        ++pos;
    }
    if (pos == fieldEnd || !IsDigit(bytes[pos])) {
        verdict.text = "Sentence number conversion failed: invalid argument";
        return verdict;
    }
    // Accumulate with a ceiling so that any number of digits is safe.
    constexpr int64_t kCeiling = int64_t{1} << 40;
    int64_t value = 0;
    for (; pos < fieldEnd && IsDigit(bytes[pos]); ++pos) {
        if (value < kCeiling) value = value * 10 + (bytes[pos] - '0');
    }
    if (negative) value = -value;
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const int64_t number = value + CCommandIntake::kSentenceBase;
    // Numbers of 0 and below are the framework's own (wake-up, timer record,
    // unknown datagram, end of table): no datagram may produce them.
    if (value < kMin || value > kMax || number <= 0 || number > kMax) {
        verdict.text = "Sentence number conversion failed: out of range";
        return verdict;
    }
    verdict.kind = CIntakeVerdict::Kind::Signal;
    verdict.number = static_cast<int32_t>(number);
    return verdict;
}

CIntakeVerdict Report(const char* reason, const char* bytes, size_t count) {
    CIntakeVerdict verdict;
    verdict.kind = CIntakeVerdict::Kind::Unknown;
    verdict.text = reason;
    verdict.text.append(
        bytes, count < CCommandIntake::kReportBytes ? count : CCommandIntake::kReportBytes);
    return verdict;
}

CIntakeVerdict Numbered(int32_t number) {
    CIntakeVerdict verdict;
    verdict.kind = CIntakeVerdict::Kind::Signal;
    verdict.number = number;
    return verdict;
}

// Characters `first` (1-based) onwards equal `text`, within `count` bytes.
bool At(const char* bytes, size_t count, size_t first, const char* text) {
    const size_t length = std::strlen(text);
    return count >= first - 1 + length && std::memcmp(bytes + first - 1, text, length) == 0;
}

}  // namespace

CIntakeVerdict CCommandIntake::Classify(const char* bytes, size_t count) {
    if (bytes == nullptr) count = 0;
    if (count >= kAddressLength && std::memcmp(bytes, kAddress, kAddressLength) == 0)
        return SentenceVerdict(bytes, count);
    if (count == 0 || bytes[0] != '$') return Report("Unknown datagram!!\n", bytes, count);
    if (At(bytes, count, 3, "TIDE")) return Numbered(kTide);
    if (At(bytes, count, 4, "APB")) return Numbered(kNmeaApb);
    if (At(bytes, count, 4, "XTE")) return Numbered(kNmeaXte);
    if (At(bytes, count, 4, "R")) {
        // Characters 5 and 6 as a decimal number; reading stops at the first
        // non-digit, and no digit at all reads as 0.
        int r = 0;
        for (size_t i = 4; i < 6 && i < count && IsDigit(bytes[i]); ++i)
            r = r * 10 + (bytes[i] - '0');
        switch (r) {
            case 0:
            case 10:
            case 11:
            case 12:
            case 13:
            case 14:
            case 20:
            case 30:
                return Numbered(kRemoteBase + r);
            default:
                return Report("Unknown R-datagram!\n", bytes, count);
        }
    }
    return Report("Unknown datagram!!\n", bytes, count);
}

CCommandIntake::CCommandIntake(CFsmBase* target, CFsmBase* sender, LogTrace* trace, bool traceData,
                               std::string machineName)
    : m_target(target),
      m_sender(sender),
      m_trace(trace),
      m_traceFlags(traceData ? static_cast<uint8_t>(FSM_TRACE_DATA | FSM_TRACE_HEADER) : 0),
      m_machineName(std::move(machineName)),
      m_logger(log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("ZORCtrl"))) {}

void CCommandIntake::OnDatagram(const char* bytes, size_t count) {
    // Nothing may escape onto the I/O thread.
    try {
        if (count > ua::sockudp::receiver::kBufferSize) {
            LOG4CPLUS_ERROR(m_logger, "Datagram of " << count << " bytes dropped");
            return;
        }
        CIntakeVerdict verdict = Classify(bytes, count);
        switch (verdict.kind) {
            case CIntakeVerdict::Kind::Signal:
                if (m_target != nullptr) {
                    m_target->PutSignal(std::make_unique<CPELSignal>(
                                            verdict.number, m_sender,
                                            CFsmPayload::Copy(bytes, static_cast<int32_t>(count))),
                                        true);
                }
                break;
            case CIntakeVerdict::Kind::Conversion:
                LOG4CPLUS_ERROR(m_logger, verdict.text);
                break;
            case CIntakeVerdict::Kind::Unknown:
                TraceText(verdict.text);
                LOG4CPLUS_INFO(m_logger, verdict.text);
                break;
        }
    } catch (...) {
    }
}

void CCommandIntake::OnReceiverLog(const std::string& text) {
    try {
        TraceText(text);
        LOG4CPLUS_INFO(m_logger, text);
    } catch (...) {
    }
}

ua::sockudp::receiver::data_callback CCommandIntake::DataCallback() {
    return [this](const char* bytes, size_t count) { OnDatagram(bytes, count); };
}

ua::sockudp::receiver::log_callback CCommandIntake::LogCallback() {
    return [this](const std::string& text) { OnReceiverLog(text); };
}

void CCommandIntake::TraceText(const std::string& text) {
    if (m_trace == nullptr) return;
    fsm_trace::DataText(m_trace, m_traceFlags, m_machineName.c_str(), "%s", text.c_str());
}
