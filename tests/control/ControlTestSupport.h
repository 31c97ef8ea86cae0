#pragma once
// What the controller tests share: stand-in handlers made through the
// controller's handler factory, UDP inboxes on loopback ports, and waiting
// for conditions.

#include <FsmBase.h>
#include <TestMachine.h>  // Gate
#include <ZORControl.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace controltest {

using Clock = std::chrono::steady_clock;

// Polls `condition` until it holds or `ms` have passed.
inline bool WaitUntil(const std::function<bool()>& condition, int ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// What one stand-in handler received.
struct CReceived {
    int32_t number;
    std::string payload;
    const CFsmBase* sender;
    uint16_t type;    // user data bytes 0-1
    uint16_t serial;  // user data bytes 2-3
};

// The record of every stand-in handler of a test, kept by the test so that
// it outlives handlers the controller deletes.
class CHandlerJournal {
  public:
    void Add(const std::string& name, CReceived received) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_received[name].push_back(std::move(received));
        m_cv.notify_all();
    }
    void Created(const std::string& name) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_created.push_back(name);
    }
    void Destroyed(const std::string& name) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_destroyed.push_back(name);
        m_cv.notify_all();
    }
    std::vector<CReceived> Of(const std::string& name) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_received[name];
    }
    std::vector<std::string> CreatedNames() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_created;
    }
    std::vector<std::string> DestroyedNames() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_destroyed;
    }
    // Waits until `name` has received `count` signals.
    bool WaitFor(const std::string& name, size_t count, int ms = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return m_received[name].size() >= count; });
    }
    bool WaitDestroyed(size_t count, int ms = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return m_destroyed.size() >= count; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::map<std::string, std::vector<CReceived>> m_received;
    std::vector<std::string> m_created;
    std::vector<std::string> m_destroyed;
};

// Stands in for a sounder handler: records what it is given and, like the
// real one, answers the terminate sentences 18 and 19 with TERMINATED to
// the controller (the sender of what it is given).
class CStandInHandler : public CFsmBase {
  public:
    CStandInHandler(std::string name, std::shared_ptr<CHandlerJournal> journal, bool answer19)
        : m_name(std::move(name)), m_journal(std::move(journal)), m_answer19(answer19) {
        m_journal->Created(m_name);
    }
    ~CStandInHandler() override { m_journal->Destroyed(m_name); }

    void PutSignal(CPELSignalPtr signal, bool) override {
        if (!signal) return;
        uint16_t type = 0, serial = 0;
        std::memcpy(&type, signal->userData, 2);
        std::memcpy(&serial, signal->userData + 2, 2);
        CFsmBase* sender = signal->sender;
        const int32_t number = signal->GetSignalNo();
        m_journal->Add(m_name, {number, std::string(signal->payload.view()), sender, type, serial});
        const bool quit = number == CZORControl::ZQPEL_18 || number == CZORControl::ZQPEL_19;
        if (m_answer19 && quit && sender != nullptr)
            sender->PutSignal(std::make_unique<CPELSignal>(CZORControl::TERMINATED, this), true);
    }

  private:
    std::string m_name;
    std::shared_ptr<CHandlerJournal> m_journal;
    bool m_answer19;
};

// A factory making stand-in handlers into `journal`.
inline HandlerFactory StandInFactory(std::shared_ptr<CHandlerJournal> journal,
                                     bool answer19 = true) {
    return [journal, answer19](const std::string& name, LogTrace*, uint8_t,
                               std::shared_ptr<boost::asio::io_context>) {
        return std::make_unique<CStandInHandler>(name, journal, answer19);
    };
}

// A UDP socket on 127.0.0.1:port collecting datagrams.
class CInbox {
  public:
    explicit CInbox(uint16_t port)
        : m_socket(m_context,
                   boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::loopback(), port)) {
        m_socket.non_blocking(true);
    }
    uint16_t Port() const { return m_socket.local_endpoint().port(); }
    // The next datagram within `ms`, or nothing.
    std::optional<std::string> Next(int ms = 5000) {
        std::optional<std::string> got;
        WaitUntil(
            [&] {
                char buffer[65536];
                boost::system::error_code error;
                const size_t n = m_socket.receive(boost::asio::buffer(buffer), 0, error);
                if (error) return false;
                got = std::string(buffer, n);
                return true;
            },
            ms);
        return got;
    }
    // Everything that arrives within `ms`.
    std::vector<std::string> Drain(int ms) {
        std::vector<std::string> all;
        while (auto next = Next(ms)) all.push_back(*next);
        return all;
    }

  private:
    boost::asio::io_context m_context;
    boost::asio::ip::udp::socket m_socket;
};

inline void SendUdp(const std::string& bytes, uint16_t port) {
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket(context, boost::asio::ip::udp::v4());
    socket.send_to(boost::asio::buffer(bytes),
                   boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::loopback(), port));
}

// A sentence signal as the intake makes it.
inline CPELSignalPtr Sentence(int32_t number, const std::string& text, CFsmBase* sender = nullptr) {
    return std::make_unique<CPELSignal>(number, sender, CFsmPayload::Copy(text));
}

}  // namespace controltest
