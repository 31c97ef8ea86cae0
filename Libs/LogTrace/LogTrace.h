#pragma once
// The single sink of all trace text: every piece goes to the log4cplus
// logger "LogTrace" at DEBUG and, with console echo on, to standard error
// (which the debug window mirrors). Exists only when the debug mask is
// non-zero; every writer holds a pointer that is null otherwise.
//
// Nothing is flushed per line: the echo goes through a buffered stream of
// its own on descriptor 2, and the log files are as buffered as the logging
// configuration makes them. While a trace log exists, a small thread hands
// all of it to the operating system every kFlushPeriodMs; FlushAll does the
// same at once (the trace log's destructor calls it, and so must any path
// that ends the process without running destructors).

#include <ace/Token.h>
#include <log4cplus/logger.h>

#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <ostream>
#include <thread>

class LogTrace {
  public:
    // Longest text one Append call writes; longer text is cut.
    static constexpr int kMaxText = 29999;
    // How old buffered trace text may get before it is written out.
    static constexpr int kFlushPeriodMs = 500;

    // Both arguments are accepted for the callers' sake and ignored: where
    // the text ends up is the logging configuration's business.
    LogTrace(const char* fileName, unsigned long maxSize);
    virtual ~LogTrace();

    LogTrace(const LogTrace&) = delete;
    LogTrace& operator=(const LogTrace&) = delete;

    virtual void SetConsole(bool on);
    virtual void Append(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void VAppend(const char* format, va_list args);

    bool Console() const { return m_console; }

    // Where the echo goes instead of the trace log's own stream on
    // descriptor 2: a C++ stream someone watches (the debug window mirrors
    // std::cerr). Each echo is the text as one block, then its line end on
    // its own. Null (the default): the own buffered stream. Set before other
    // threads append.
    void SetConsoleStream(std::ostream* stream) { m_consoleStream = stream; }

    // Hands everything buffered so far to the operating system: the echo on
    // standard error and every file appender of log4cplus. Safe on any
    // thread, at any time, as often as wanted; a process that ends with
    // _exit calls it first.
    static void FlushAll();

  private:
    void FlushPeriodically();

    bool m_console = false;
    std::ostream* m_consoleStream = nullptr;
    // Recursive, first-come-first-served: a thread that already holds it may
    // append again, and waiting threads are served in arrival order.
    ACE_Token m_lock;
    log4cplus::Logger m_logger;

    std::mutex m_flushMutex;
    std::condition_variable m_flushWake;
    bool m_stopping = false;
    std::thread m_flusher;  // last: starts once the rest exists
};
