#include "FsmTrace.h"

#include <LogTrace.h>

#include <cstdio>

namespace fsm_trace {
namespace {

// Appends to `line` at `used`, never past `size`; returns the new length.
size_t Put(char* line, size_t size, size_t used, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
size_t Put(char* line, size_t size, size_t used, const char* format, ...) {
    if (used >= size) return used;
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line + used, size - used, format, args);
    va_end(args);
    if (n < 0) return used;
    size_t total = used + static_cast<size_t>(n);
    return total < size ? total : size - 1;
}

void Line(LogTrace* trace, char* line, size_t size, const char* prefix, const char* machine,
          const char* format, va_list args) {
    size_t used = Put(line, size, 0, prefix, machine);
    if (used < size - 1 && format != nullptr) {
        std::vsnprintf(line + used, size - used, format, args);
    }
    trace->Append("%s", line);
}

}  // namespace

size_t ComposeDispatch(char* line, size_t size, uint8_t flags, const char* machine,
                       const char* signalName, bool matched, const char* fromState,
                       const char* toState) {
    size_t used = 0;
    line[0] = '\0';
    if (flags & FSM_TRACE_HEADER) used = Put(line, size, used, "\n\n*F: %-12.12s ", machine);
    if (flags & FSM_TRACE_SIG) used = Put(line, size, used, "S: %-17.17s ", signalName);
    if (flags & FSM_TRACE_TRANS) {
        used = Put(line, size, used,
                   matched ? "St:  %-15.15s --> %-15.15s" : "ASt: %-15.15s --> %-15.15s", fromState,
                   toState);
    }
    return used;
}

void Job(LogTrace* trace, uint8_t flags, const char* machine, const char* format, va_list args) {
    if (trace == nullptr || !(flags & FSM_TRACE_JOB)) return;
    char line[kJobLine];
    Line(trace, line, sizeof line, "*F: %-12.12s                      Job: ", machine, format,
         args);
}

void Data(LogTrace* trace, uint8_t flags, const char* machine, const char* format, va_list args) {
    if (trace == nullptr || !(flags & FSM_TRACE_DATA)) return;
    char line[kDataLine];
    Line(trace, line, sizeof line, "*F: %-12.12s                      Data: ", machine, format,
         args);
}

void DataText(LogTrace* trace, uint8_t flags, const char* machine, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Data(trace, flags, machine, format, args);
    va_end(args);
}

void Timer(LogTrace* trace, uint8_t flags, const char* machine, bool start, const char* signalName,
           unsigned delayMs) {
    if (trace == nullptr || !(flags & FSM_TRACE_TIMERS)) return;
    trace->Append(start ? "*F: %-12.12s                      T+:  %-17.17s  Delay: %u"
                        : "*F: %-12.12s                      T-:  %-17.17s  Delay: %u",
                  machine, signalName, delayMs);
}

void ExternalQueue(LogTrace* trace, const char* signalName, unsigned size) {
    if (trace == nullptr) return;
    trace->Append("\n*ExternalQ Input: %s. Queue size: %u\n", signalName, size);
}

}  // namespace fsm_trace
