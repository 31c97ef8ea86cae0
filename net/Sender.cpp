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
}

void sender::send(const std::string& text, const std::string& address) {
    // The bytes must outlive the asynchronous send.
    auto bytes = std::make_shared<const std::string>(text);

    const std::vector<std::string> fields = SplitFields(address, ':');
    if (fields.size() < 2) {
        std::cerr << "UDP send refused: no port in address \"" << address << "\"\n";
        return;
    }
    // Resolved on every call on the caller's thread: any family, datagram
    // socket, UDP, no flags. The numeric loopback address costs little.
    udp::resolver resolver(*m_context);
    const udp::resolver::results_type results =
        resolver.resolve(fields[0], fields[1], udp::resolver::flags());
    const udp::endpoint destination = results.begin()->endpoint();

    std::lock_guard<std::mutex> guard(m_socketMutex);
    m_socket.async_send_to(asio::buffer(*bytes), destination,
                           [bytes](const boost::system::error_code& error, std::size_t) {
                               if (error) std::cerr << error.message() << '\n';
                           });
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
        shared->send(std::string(signal->payload.view()), address);
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
