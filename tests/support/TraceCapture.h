#pragma once
// Reads back what reaches a log4cplus logger: a test attaches a capture to
// "LogTrace" (or any logger) and asserts on the exact texts logged.

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>

#include <mutex>
#include <string>
#include <vector>

class TraceCapture {
  public:
    explicit TraceCapture(const char* logger = "LogTrace");
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> Lines() const;
    std::string Text() const;  // all lines joined with "\n"
    void Clear();
    // Waits (bounded) until a line contains `needle`; true when found.
    bool WaitFor(const std::string& needle, int timeoutMs = 5000) const;

  private:
    class Appender;
    log4cplus::Logger m_logger;
    log4cplus::SharedAppenderPtr m_appender;
    Appender* m_sink;
};
