#include "TraceCapture.h"

#include <log4cplus/spi/loggingevent.h>

#include <chrono>
#include <thread>

class TraceCapture::Appender : public log4cplus::Appender {
  public:
    Appender() { setName(LOG4CPLUS_TEXT("TraceCapture")); }
    ~Appender() override { destructorImpl(); }
    void close() override {}

    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_lines;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_lines.clear();
    }

  protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_lines.push_back(LOG4CPLUS_TSTRING_TO_STRING(event.getMessage()));
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

TraceCapture::TraceCapture(const char* logger)
    : m_logger(log4cplus::Logger::getInstance(LOG4CPLUS_C_STR_TO_TSTRING(logger))) {
    auto* sink = new Appender;  // owned by the shared pointer below
    m_appender = log4cplus::SharedAppenderPtr(sink);
    m_sink = sink;
    m_logger.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
    m_logger.addAppender(m_appender);
}

TraceCapture::~TraceCapture() {
    m_logger.removeAppender(m_appender);
}

std::vector<std::string> TraceCapture::Lines() const {
    return m_sink->Lines();
}

std::string TraceCapture::Text() const {
    std::string all;
    for (const auto& line : Lines()) {
        if (!all.empty()) all += '\n';
        all += line;
    }
    return all;
}

void TraceCapture::Clear() {
    m_sink->Clear();
}

bool TraceCapture::WaitFor(const std::string& needle, int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        for (const auto& line : Lines())
            if (line.find(needle) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}
