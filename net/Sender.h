#pragma once
// Sending texts as UDP datagrams to address texts ("127.0.0.1:4002").

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class CPELSignal;

namespace ua::sockudp {

class sender {
  public:
    // Opens an IPv4 UDP socket (never bound: the source port is picked at
    // the first send). Throws boost::system::system_error ("open").
    explicit sender(std::shared_ptr<boost::asio::io_context> context);

    sender(const sender&) = delete;
    sender& operator=(const sender&) = delete;

    // Sends one datagram carrying exactly the bytes of `text` to `address`
    // ("host:port") and returns. An address without a port field is refused
    // on stderr; a host or port that does not resolve throws
    // boost::system::system_error ("resolve"). Safe from any thread.
    //
    // The datagram goes out at once from the calling thread. Only when the
    // socket's send buffer is full, or datagrams queued that way are still
    // waiting, is it queued to go out on the I/O thread, after them, so
    // that one thread's datagrams keep their order. A failed send is
    // written to stderr, by the caller's thread or, for a queued one, when
    // it completes on the I/O thread.
    void send(std::string_view text, const std::string& address);

  private:
    boost::asio::ip::udp::endpoint Resolve(const std::string& host, const std::string& service);

    std::shared_ptr<boost::asio::io_context> m_context;
    // Guards the queued sends. Sending at once needs no lock: the socket is
    // non-blocking from its opening on, so a send only reads its state.
    std::mutex m_socketMutex;
    boost::asio::ip::udp::socket m_socket;
    // Queued datagrams not yet completed; shared with their completions,
    // which may run after the sender is gone.
    std::shared_ptr<std::atomic<int>> m_queued = std::make_shared<std::atomic<int>>(0);
};

// The sender shared by every SendPayload of the process; null until the
// first SendPayload of a signal with a payload.
std::shared_ptr<sender> process_sender();

}  // namespace ua::sockudp

// Sends the payload of `signal` (exactly payload-length bytes) to `address`
// through the process-wide sender, creating that on first use with
// `context`. Nothing happens for a null signal or one without payload. The
// caller keeps the signal. Never throws: every failure is written to stderr
// and nothing is sent.
void SendPayload(const CPELSignal* signal, const std::string& address,
                 const std::shared_ptr<boost::asio::io_context>& context) noexcept;
void SendPayload(const CPELSignal& signal, const std::string& address,
                 const std::shared_ptr<boost::asio::io_context>& context) noexcept;
