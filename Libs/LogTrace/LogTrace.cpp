#include "LogTrace.h"

#include <ace/Guard_T.h>
#include <log4cplus/fileappender.h>
#include <log4cplus/helpers/appenderattachableimpl.h>
#include <log4cplus/loggingmacros.h>
#include <stdio_ext.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

static_assert(std::is_same_v<log4cplus::tchar, char>, "trace text is handed on as it is");

namespace {

// Large enough for the longest echo (text and line end), so that every
// write to descriptor 2 carries whole lines only.
constexpr size_t kEchoBuffer = 64 * 1024;
static_assert(kEchoBuffer > LogTrace::kMaxText + 1);

// The echo's own stream on descriptor 2, fully buffered; standard error
// itself stays unbuffered for everybody else. Made once and never closed
// (closing it would close descriptor 2); the C library flushes it at exit.
FILE* EchoStream() {
    static FILE* const stream = [] {
        FILE* own = ::fdopen(2, "w");
        if (own == nullptr) return stderr;
        std::setvbuf(own, nullptr, _IOFBF, kEchoBuffer);
        return own;
    }();
    return stream;
}

// Writes one line as a unit: when the buffer cannot take all of it, what is
// buffered goes out first, so no write to the descriptor ends mid-line.
void EchoLine(const char* text, size_t length) {
    FILE* out = EchoStream();
    ::flockfile(out);
    if (out != stderr && __fpending(out) + length > kEchoBuffer) ::fflush_unlocked(out);
    ::fwrite_unlocked(text, 1, length, out);
    ::funlockfile(out);
}

// A file appender keeps its stream to itself (protected); a derived class
// may name the member, and the pointer to member so formed reaches the
// stream of any file appender.
struct FileStreamAccess : log4cplus::FileAppenderBase {
    static constexpr log4cplus::tofstream log4cplus::FileAppenderBase::*kOut =
        &FileStreamAccess::out;
};

void FlushAppender(log4cplus::Appender& appender) {
    appender.waitToFinishAsyncLogging();
    if (auto* file = dynamic_cast<log4cplus::FileAppenderBase*>(&appender)) {
        // The appender's own lock: the one held while it writes an event.
        log4cplus::thread::MutexGuard guard(file->access_mutex);
        (file->*FileStreamAccess::kOut).flush();
    }
    if (auto* nested = dynamic_cast<log4cplus::helpers::AppenderAttachableImpl*>(&appender)) {
        for (auto& inner : nested->getAllAppenders()) FlushAppender(*inner);
    }
}

}  // namespace

LogTrace::LogTrace(const char* /*fileName*/, unsigned long /*maxSize*/)
    : m_logger(log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("LogTrace"))),
      m_flusher([this] { FlushPeriodically(); }) {}

LogTrace::~LogTrace() {
    {
        std::lock_guard<std::mutex> guard(m_flushMutex);
        m_stopping = true;
    }
    m_flushWake.notify_all();
    m_flusher.join();
    FlushAll();
}

void LogTrace::FlushPeriodically() {
    try {
        std::unique_lock<std::mutex> lock(m_flushMutex);
        while (!m_flushWake.wait_for(lock, std::chrono::milliseconds(kFlushPeriodMs),
                                     [this] { return m_stopping; })) {
            lock.unlock();
            FlushAll();
            lock.lock();
        }
    } catch (...) {
        // The destructor's flush still comes.
    }
}

void LogTrace::FlushAll() {
    std::fflush(EchoStream());
    try {
        auto loggers = log4cplus::Logger::getCurrentLoggers();
        loggers.push_back(log4cplus::Logger::getRoot());
        for (auto& logger : loggers) {
            for (auto& appender : logger.getAllAppenders()) FlushAppender(*appender);
        }
    } catch (...) {
        // Output failures of the logging library are not reported.
    }
}

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
    // The message handed to log4cplus: the thread's own, so that its storage
    // is reused from call to call, except in an Append made from within
    // another one on the same thread (an appender that traces), which must
    // leave the outer call's text alone. Text is formatted before the lock:
    // callers only queue for the output itself.
    thread_local log4cplus::tstring reused;
    thread_local int depth = 0;
    log4cplus::tstring nested;
    log4cplus::tstring& message = depth == 0 ? reused : nested;
    struct Depth {
        Depth() { ++depth; }
        ~Depth() { --depth; }
    } inCall;
    const char* whole = nullptr;
    if (std::strcmp(format, "%s") == 0) {
        // The machines compose their lines themselves and pass them as "%s":
        // taken as they are, cut as the formatting would cut them.
        va_list copy;
        va_copy(copy, args);
        whole = va_arg(copy, const char*);
        va_end(copy);
    }
    if (whole != nullptr) {
        message.assign(whole, ::strnlen(whole, kMaxText));
    } else {
        char text[kMaxText + 1];
        int n = std::vsnprintf(text, sizeof text, format, args);
        if (n < 0) return;
        message.assign(text, n > kMaxText ? kMaxText : static_cast<size_t>(n));
    }
    // The lock keeps each call's output whole in both sinks.
    ACE_Guard<ACE_Token> guard(m_lock);
    try {
        if (m_logger.isEnabledFor(log4cplus::DEBUG_LOG_LEVEL)) {
            m_logger.forcedLog(log4cplus::DEBUG_LOG_LEVEL, message);
        }
    } catch (...) {
        // Output failures of the logging library are not reported.
    }
    if (m_console && m_consoleStream != nullptr) {
        m_consoleStream->write(message.data(), static_cast<std::streamsize>(message.size()));
        m_consoleStream->put('\n');
        m_consoleStream->flush();
    } else if (m_console) {
        // log4cplus has its copy; the echo's line end goes on the same text.
        message.push_back('\n');
        EchoLine(message.data(), message.size());
    }
}
