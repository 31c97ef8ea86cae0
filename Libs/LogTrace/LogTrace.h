#pragma once
// The single sink of all trace text: every piece goes to the log4cplus
// logger "LogTrace" at DEBUG and, with console echo on, to standard error
// (which the debug window mirrors). Exists only when the debug mask is
// non-zero; every writer holds a pointer that is null otherwise.

#include <ace/Token.h>
#include <log4cplus/logger.h>

#include <cstdarg>

class LogTrace {
  public:
    // Longest text one Append call writes; longer text is cut.
    static constexpr int kMaxText = 29999;

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

  private:
    bool m_console = false;
    // Recursive, first-come-first-served: a thread that already holds it may
    // append again, and waiting threads are served in arrival order.
    ACE_Token m_lock;
    log4cplus::Logger m_logger;
};
