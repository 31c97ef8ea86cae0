#pragma once
// The appender for the trace file: log4cplus's rolling file appender without
// its two system calls per line. log4cplus's own one asks the file stream
// for its position before and after every event to decide on a rollover;
// at hundreds of thousands of trace lines a second that is the larger part
// of the cost of tracing. This one asks after every kCheckBytes of message
// text, so a file may pass MaxFileSize by about that much before it rolls.
// Every property of log4cplus::RollingFileAppender applies; with
// UseLockFile (a file shared by several processes) it behaves exactly as
// that appender.
//
// In a logging configuration:  log4cplus.appender.X=zor::TraceFileAppender
// (known to log4cplus once RegisterTraceFileAppender has run).

#include <log4cplus/fileappender.h>

#include <cstddef>

namespace zor {

class TraceFileAppender : public log4cplus::RollingFileAppender {
  public:
    static constexpr std::size_t kCheckBytes = 64 * 1024;
    static constexpr const char* kTypeName = "zor::TraceFileAppender";

    explicit TraceFileAppender(const log4cplus::helpers::Properties& properties);
    ~TraceFileAppender() override;

  protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override;

  private:
    std::size_t m_unchecked = 0;  // message bytes since the last size check
};

}  // namespace zor

// Makes the type known to log4cplus's configurators; call before reading a
// configuration that names it. Repeated calls do nothing more.
void RegisterTraceFileAppender();
