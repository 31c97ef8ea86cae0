#include "Sender.h"

#include <FsmSignal.h>

#include <boost/asio/buffer.hpp>
#include <iostream>

#include "Fields.h"

namespace ua::sockudp {

namespace asio = boost::asio;
using asio::ip::udp;

sender::sender(std::shared_ptr<asio::io_context> context)
    : m_context(std::move(context)), m_socket(*m_context) {
    m_socket.open(udp::v4());
    m_socket.non_blocking(true);
}

namespace {

// A port given as plain decimal digits within 0..65535.
bool NumericPort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

// Resolved on every call, on the caller's thread: any family, datagram
// socket, UDP, no flags. Every destination of the suite is a numeric address
// and port, which resolve to themselves; those are taken as they are, without
// the resolver's system call, and everything else goes through the resolver
// (and fails there, naming "resolve").
udp::endpoint sender::Resolve(const std::string& host, const std::string& service) {
    boost::system::error_code error;
    const asio::ip::address address = asio::ip::make_address(host, error);
    uint16_t port = 0;
    if (!error && NumericPort(service, port)) return udp::endpoint(address, port);
    udp::resolver resolver(*m_context);
    const udp::resolver::results_type results =
        resolver.resolve(host, service, udp::resolver::flags());
    return results.begin()->endpoint();
}

void sender::send(std::string_view text, const std::string& address) {
    const std::vector<std::string> fields = SplitFields(address, ':');
    if (fields.size() < 2) {
        std::cerr << "UDP send refused: no port in address \"" << address << "\"\n";
        return;
    }
    const udp::endpoint destination = Resolve(fields[0], fields[1]);

    // At once: no hand-off to the I/O thread on the way out.
    if (m_queued->load() == 0) {
        boost::system::error_code error;
        m_socket.send_to(asio::buffer(text.data(), text.size()), destination, 0, error);
        if (error != asio::error::would_block && error != asio::error::try_again) {
            if (error) std::cerr << error.message() << '\n';
            return;
        }
    }

    // The bytes must outlive the queued send.
    auto bytes = std::make_shared<const std::string>(text);
    m_queued->fetch_add(1);
    try {
        std::lock_guard<std::mutex> guard(m_socketMutex);
        m_socket.async_send_to(
            asio::buffer(*bytes), destination,
            [bytes, queued = m_queued](const boost::system::error_code& error, std::size_t) {
                queued->fetch_sub(1);
                if (error) std::cerr << error.message() << '\n';
            });
    } catch (...) {
        m_queued->fetch_sub(1);  // never queued: later sends may go at once
        throw;
    }
}

namespace {

std::mutex g_senderMutex;
std::shared_ptr<sender> g_sender;  // lives until the process ends

}  // namespace

std::shared_ptr<sender> process_sender() {
    std::lock_guard<std::mutex> guard(g_senderMutex);
    return g_sender;
}

}  // namespace ua::sockudp

void SendPayload(const CPELSignal* signal, const std::string& address,
                 const std::shared_ptr<boost::asio::io_context>& context) noexcept {
    if (signal == nullptr || signal->payload.empty()) return;
    try {
        std::shared_ptr<ua::sockudp::sender> shared;
        {
            std::lock_guard<std::mutex> guard(ua::sockudp::g_senderMutex);
            if (!ua::sockudp::g_sender && context)
                ua::sockudp::g_sender = std::make_shared<ua::sockudp::sender>(context);
            shared = ua::sockudp::g_sender;
        }
        if (!shared) {
            std::cerr << "UDP send to " << address << " failed: no I/O context\n";
            return;
        }
        shared->send(signal->payload.view(), address);
    } catch (const std::exception& e) {
        try {
            std::cerr << "UDP send to " << address << " failed: " << e.what() << '\n';
        } catch (...) {
        }
    } catch (...) {
        try {
            std::cerr << "UDP send to " << address << " failed\n";
        } catch (...) {
        }
    }
}

void SendPayload(const CPELSignal& signal, const std::string& address,
                 const std::shared_ptr<boost::asio::io_context>& context) noexcept {
    SendPayload(&signal, address, context);
}
