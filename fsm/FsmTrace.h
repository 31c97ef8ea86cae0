#pragma once
// Composition of the transition trace lines. The texts are fixed: other
// tools read these traces, so every column and blank matters.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

class LogTrace;

// Debug mask bits and the trace flags derived from them.
enum : uint8_t {
    FSM_TRACE_TRANS = 0x01,   // "St:" / "ASt:" part of the dispatch line
    FSM_TRACE_SIG = 0x02,     // "S:" part of the dispatch line
    FSM_TRACE_JOB = 0x04,     // "Job:" lines
    FSM_TRACE_DATA = 0x08,    // "Data:" lines
    FSM_TRACE_TIMERS = 0x10,  // "T+:" / "T-:" lines
    FSM_TRACE_HEADER = 0x80,  // dispatch header, added to any non-zero mask
};

namespace fsm_trace {

constexpr size_t kDispatchLine = 500;  // the machine's dispatch line buffer
constexpr size_t kJobLine = 512;       // a job line holds at most 511 characters
constexpr size_t kDataLine = 2000;     // a data line holds at most 1999 characters
constexpr size_t kSignalName = 112;    // room for one signal name

// Trace flags for a debug mask: the mask with the header bit, or 0.
inline uint8_t FlagsForMask(uint8_t mask) {
    return mask != 0 ? static_cast<uint8_t>(mask | FSM_TRACE_HEADER) : 0;
}

// The dispatch line; returns its length (0: nothing to write).
size_t ComposeDispatch(char* line, size_t size, uint8_t flags, const char* machine,
                       const char* signalName, bool matched, const char* fromState,
                       const char* toState);

// "Job:" and "Data:" lines, written when their bit is set.
void Job(LogTrace* trace, uint8_t flags, const char* machine, const char* format, va_list args);
void Data(LogTrace* trace, uint8_t flags, const char* machine, const char* format, va_list args);
void DataText(LogTrace* trace, uint8_t flags, const char* machine, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// "T+:" (start) and "T-:" (stop) lines, written when the timer bit is set.
void Timer(LogTrace* trace, uint8_t flags, const char* machine, bool start, const char* signalName,
           unsigned delayMs);

// The backlog line, written whenever a trace log exists.
void ExternalQueue(LogTrace* trace, const char* signalName, unsigned size);

}  // namespace fsm_trace
