#include "LogTrace.h"

#include <ace/Guard_T.h>
#include <log4cplus/loggingmacros.h>

#include <cstdio>
#include <iostream>

LogTrace::LogTrace(const char* /*fileName*/, unsigned long /*maxSize*/)
    : m_logger(log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("LogTrace"))) {}

LogTrace::~LogTrace() = default;

void LogTrace::SetConsole(bool on) {
    m_console = on;
}

void LogTrace::Append(const char* format, ...) {
    va_list args;
    va_start(args, format);
    VAppend(format, args);
    va_end(args);
}

void LogTrace::VAppend(const char* format, va_list args) {
    if (format == nullptr) return;
    // The call's own buffer, formatted before the lock: callers only queue
    // for the output itself.
    char text[kMaxText + 1];
    int n = std::vsnprintf(text, sizeof text, format, args);
    if (n < 0) return;
    // The lock keeps each call's output whole in both sinks.
    ACE_Guard<ACE_Token> guard(m_lock);
    try {
        if (m_logger.isEnabledFor(log4cplus::DEBUG_LOG_LEVEL)) {
            m_logger.forcedLog(log4cplus::DEBUG_LOG_LEVEL, LOG4CPLUS_C_STR_TO_TSTRING(text));
        }
    } catch (...) {
        // Output failures of the logging library are not reported.
    }
    if (m_console) {
        // Through the C++ stream, which the debug window mirrors: the text as
        // one block, then the line end on its own.
        std::cerr << text;
        std::cerr.put('\n');
        std::cerr.flush();
    }
}
