#include "Receiver.h"

#include <array>
#include <atomic>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/strand.hpp>
#include <iostream>
#include <mutex>
#include <thread>

namespace ua::sockudp {

namespace asio = boost::asio;
using asio::ip::udp;

// Shared by the receiver and every pending receive, so that a completion
// still queued after the receiver is gone finds its socket and buffer alive.
// It holds no share of the context: the context holds the pending receive,
// and a share back would keep both alive for good.
struct receiver::state : std::enable_shared_from_this<state> {
    explicit state(asio::io_context& context)
        : serialiser(asio::make_strand(context)), socket(context) {
        socket.open(udp::v4());
    }

    void arm();  // socketMutex held
    void on_receive(const boost::system::error_code& error, std::size_t count);
    void log(const std::string& text);

    std::atomic<bool> stopped{false};
    asio::strand<asio::io_context::executor_type> serialiser;
    // Guards every call on the socket: the owner's start and stop against
    // the re-arming on the I/O thread.
    std::mutex socketMutex;
    udp::socket socket;
    // Guards the callback pointers only (copied out, called outside).
    std::mutex callbackMutex;
    std::shared_ptr<const data_callback> dataCallback;
    std::shared_ptr<const log_callback> logCallback;
    // Data callbacks running now, and the thread that runs them, so that
    // stop can wait for the last one (except from inside it).
    std::atomic<int> inCallback{0};
    std::atomic<std::thread::id> callbackThread{};
    std::array<char, kBufferSize> buffer{};
    udp::endpoint peer;
};

void receiver::state::arm() {
    socket.async_receive_from(
        asio::buffer(buffer), peer,
        asio::bind_executor(
            serialiser,
            [self = shared_from_this()](const boost::system::error_code& error, std::size_t count) {
                self->on_receive(error, count);
            }));
}

void receiver::state::on_receive(const boost::system::error_code& error, std::size_t count) {
    if (!error && count > 0) {
        // Announce the callback before looking at `stopped`; stop does the
        // reverse, so one of the two always sees the other.
        inCallback.fetch_add(1);
        if (!stopped.load()) {
            std::shared_ptr<const data_callback> callback;
            {
                std::lock_guard<std::mutex> guard(callbackMutex);
                callback = dataCallback;
            }
            if (callback && *callback) {
                callbackThread.store(std::this_thread::get_id());
                try {
                    (*callback)(buffer.data(), count);
                } catch (const std::exception& e) {
                    std::cerr << "UDP receiver: data callback failed: " << e.what() << '\n';
                } catch (...) {
                    std::cerr << "UDP receiver: data callback failed\n";
                }
                callbackThread.store(std::thread::id());
            }
        }
        inCallback.fetch_sub(1);
    }
    // An aborted receive means the socket was closed: the loop is over.
    // Any other error (a refused earlier send, for one) leaves it running.
    if (error == asio::error::operation_aborted) return;
    try {
        std::lock_guard<std::mutex> guard(socketMutex);
        if (stopped.load() || !socket.is_open()) return;
        arm();
    } catch (const std::exception& e) {
        // Nothing may leave a completion handler; a port that can no longer
        // receive must at least say so.
        std::cerr << "UDP receiver: cannot receive again: " << e.what() << '\n';
    }
}

void receiver::state::log(const std::string& text) {
    std::shared_ptr<const log_callback> callback;
    {
        std::lock_guard<std::mutex> guard(callbackMutex);
        callback = logCallback;
    }
    if (callback && *callback) (*callback)(text);
}

receiver::receiver(std::shared_ptr<asio::io_context> context)
    : m_context(std::move(context)), m_state(std::make_shared<state>(*m_context)) {}

receiver::~receiver() {
    stop();
}

void receiver::set_log_callback(log_callback callback) {
    auto installed = std::make_shared<const log_callback>(std::move(callback));
    std::lock_guard<std::mutex> guard(m_state->callbackMutex);
    m_state->logCallback = std::move(installed);
}

void receiver::set_data_callback(data_callback callback) {
    auto installed = std::make_shared<const data_callback>(std::move(callback));
    std::lock_guard<std::mutex> guard(m_state->callbackMutex);
    m_state->dataCallback = std::move(installed);
}

void receiver::start(uint16_t port) {
    state& s = *m_state;
    s.log("Set reuse_address to true");
    {
        std::lock_guard<std::mutex> guard(s.socketMutex);
        s.socket.set_option(udp::socket::reuse_address(true));
    }
    s.log("Bind to input port " + std::to_string(port));
    {
        std::lock_guard<std::mutex> guard(s.socketMutex);
        s.socket.bind(udp::endpoint(udp::v4(), port));
    }
    s.log("Bound to input port");
    {
        std::lock_guard<std::mutex> guard(s.socketMutex);
        s.socket.set_option(udp::socket::receive_buffer_size(kSocketBufferRequest));
    }
    s.log("UDP receive starting");
    std::lock_guard<std::mutex> guard(s.socketMutex);
    if (!s.stopped.load()) s.arm();
}

void receiver::stop() {
    state& s = *m_state;
    s.stopped.store(true);
    boost::system::error_code error;
    {
        std::lock_guard<std::mutex> guard(s.socketMutex);
        if (s.socket.is_open()) s.socket.close(error);
    }
    if (error) std::cerr << error.message() << '\n';
    // A callback that had started before `stopped` was set may still run on
    // the I/O thread; the owner may free what it uses once we return.
    if (s.callbackThread.load() == std::this_thread::get_id()) return;
    while (s.inCallback.load() > 0) std::this_thread::yield();
}

uint16_t receiver::local_port() const {
    std::lock_guard<std::mutex> guard(m_state->socketMutex);
    boost::system::error_code error;
    if (!m_state->socket.is_open()) return 0;
    const udp::endpoint local = m_state->socket.local_endpoint(error);
    return error ? 0 : local.port();
}

}  // namespace ua::sockudp
