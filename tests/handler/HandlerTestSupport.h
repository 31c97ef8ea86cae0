#pragma once
// What the handler tests share: a suite database and a survey-settings
// folder of their own, the trace log captured, the process-wide I/O thread,
// a stand-in controller that records what the handler sends it, and UDP
// sinks on the distribution processes' ports.

#include <Environment.h>
#include <IoThread.h>
#include <LogTrace.h>
#include <Paths.h>
#include <SurveyData.h>
#include <SuspendMode.h>
#include <TraceCapture.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QSettings>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SuiteDb.h"
#include "ZORHandl.h"

namespace handler_test {

// Stands for the controller: keeps every signal the handler posts to it.
class CFakeController : public CFsmBase {
  public:
    struct Entry {
        int32_t number;
        CFsmBase* sender;
        std::string payload;
        const CPELSignal* address;
    };
    void PutSignal(CPELSignalPtr signal, bool atBack = true) override {
        if (!signal) return;
        std::lock_guard<std::mutex> guard(m_mutex);
        m_posted.push_back({signal->GetSignalNo(), signal->sender,
                            std::string(signal->payload.view()), signal.get()});
        m_backs.push_back(atBack);
        m_kept.push_back(std::move(signal));
        m_cv.notify_all();
    }
    std::vector<Entry> Posted() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_posted;
    }
    // Waits until a signal with the number has arrived `count` times.
    bool WaitFor(int32_t number, size_t count = 1, int ms = 10000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return Count(number) >= count; });
    }
    size_t CountOf(int32_t number) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return Count(number);
    }
    bool AllAtBack() {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (bool b : m_backs)
            if (!b) return false;
        return true;
    }

  private:
    size_t Count(int32_t number) const {
        size_t n = 0;
        for (const auto& p : m_posted) n += p.number == number ? 1 : 0;
        return n;
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Entry> m_posted;
    std::vector<bool> m_backs;
    std::vector<CPELSignalPtr> m_kept;
};

// A UDP socket bound to 127.0.0.1:port.
class UdpSink {
  public:
    explicit UdpSink(uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_bound = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~UdpSink() {
        if (m_fd >= 0) ::close(m_fd);
    }
    UdpSink(const UdpSink&) = delete;
    UdpSink& operator=(const UdpSink&) = delete;
    bool Bound() const { return m_bound; }

    // The next datagram, waiting at most `ms`.
    std::optional<std::string> Next(int ms = 10000) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1) return std::nullopt;
        char buffer[70000];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<size_t>(n));
    }
    // Whether nothing arrives within `ms`.
    bool Quiet(int ms = 300) { return !Next(ms).has_value(); }

  private:
    int m_fd = -1;
    bool m_bound = false;
};

// Sends one datagram to 127.0.0.1:port.
inline void SendTo(uint16_t port, const std::string& bytes) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::close(fd);
}

// The suite database (demo rows), a private data folder with the survey
// settings, the trace captured, the I/O thread running.
class HandlerEnvironment {
  public:
    explicit HandlerEnvironment(int suspendMode = platform::kSuspendBoth)
        : m_suite(zortest::SuiteDb::Options{true}),
          m_programData("ProgramData", m_suite.Folder() + "ProgramData"),
          m_context(std::make_shared<boost::asio::io_context>()),
          m_io(m_context) {
        QDir().mkpath(QString::fromStdString(platform::DataFolder()));
        CSurveyData::resetSavedInProcess();
        platform::SetSuspendMode(suspendMode);
        m_io.start();
    }
    ~HandlerEnvironment() {
        m_io.stop();
        platform::SetSuspendMode(platform::kSuspendNone);
    }

    // Writes Common and group keys of SurveyInfo.ini.
    void WriteSettings(const std::vector<std::pair<std::string, std::string>>& values) {
        QSettings settings(QString::fromStdString(CSurveyData::settingsFilePath()),
                           QSettings::IniFormat);
        for (const auto& [key, value] : values)
            settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
        settings.sync();
    }

    // A handler as the controller makes one.
    std::unique_ptr<CZORHandl> MakeHandler(const std::string& name, uint8_t mask = 31,
                                           int32_t state = CZORHandl::ZPEL_IDLE) {
        auto handler = std::make_unique<CZORHandl>(name, state, &m_trace, mask);
        handler->SetIoContext(m_context);
        return handler;
    }

    // INIT_PARAM as the controller sends it.
    static CPELSignalPtr InitParam(CFsmBase* controller, uint16_t type, uint16_t serial) {
        auto s = std::make_unique<CPELSignal>(CZORHandl::kInitParam, controller);
        std::memset(s->userData, 0, sizeof s->userData);
        std::memcpy(s->userData, &type, 2);
        std::memcpy(s->userData + 2, &serial, 2);
        return s;
    }
    static CPELSignalPtr Sentence(int32_t number, const std::string& text,
                                  CFsmBase* sender = nullptr) {
        return std::make_unique<CPELSignal>(number, sender, CFsmPayload::Copy(text));
    }

    zortest::SuiteDb& Suite() { return m_suite; }
    TraceCapture& Capture() { return m_capture; }
    LogTrace& Trace() { return m_trace; }
    const std::shared_ptr<boost::asio::io_context>& Context() const { return m_context; }

  private:
    zortest::SuiteDb m_suite;
    platform::ScopedEnv m_programData;
    TraceCapture m_capture;
    LogTrace m_trace{"", 0};
    std::shared_ptr<boost::asio::io_context> m_context;
    ua::sockudp::io_thread m_io;
};

// The job lines of a trace, in order ("JobX" for "...Job: JobX").
inline std::vector<std::string> JobLines(const std::vector<std::string>& lines) {
    std::vector<std::string> jobs;
    for (const auto& line : lines) {
        const size_t at = line.find("Job: ");
        if (at != std::string::npos) jobs.push_back(line.substr(at + 5));
    }
    return jobs;
}

}  // namespace handler_test
