#pragma once
// One bound UDP socket whose receive loop hands every datagram to a data
// callback, on the process-wide I/O thread.
//
// The owner installs the callbacks and calls start on its own thread; the
// data callback then runs on the I/O thread, one datagram at a time. It must
// only copy the bytes, post a signal and trace: it blocks every socket of
// the process while it runs.

#include <boost/asio/io_context.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace ua::sockudp {

class receiver {
  public:
    // Largest datagram; the receive buffer has exactly this size.
    static constexpr std::size_t kBufferSize = 65535;
    // Socket receive buffer asked for, so that bursts survive a busy thread.
    static constexpr int kSocketBufferRequest = 32000000;

    // `buffer` holds at least kBufferSize bytes; the first `count` (1 to
    // kBufferSize) are the datagram, the rest mean nothing. It is valid only
    // during the call.
    using data_callback = std::function<void(const char* buffer, std::size_t count)>;
    using log_callback = std::function<void(const std::string& text)>;

    // Opens an IPv4 UDP socket; throws boost::system::system_error ("open").
    explicit receiver(std::shared_ptr<boost::asio::io_context> context);
    // Stops the receiver.
    ~receiver();

    receiver(const receiver&) = delete;
    receiver& operator=(const receiver&) = delete;

    // Install or replace a callback; safe while the loop runs.
    void set_log_callback(log_callback callback);
    void set_data_callback(data_callback callback);

    // Address reuse on, bind to 0.0.0.0:port, ask for the large socket
    // buffer, first receive. Progress goes to the log callback. Throws
    // boost::system::system_error ("set_option", "bind") on failure. Port 0
    // binds an ephemeral port (see local_port).
    void start(uint16_t port);

    // Ends reception for good: closes the socket. When it returns, no data
    // callback runs or will run (unless stop is called from the callback
    // itself, which then is the last one). Close failures go to stderr.
    void stop();

    // The bound port, 0 before start or after stop.
    uint16_t local_port() const;

  private:
    struct state;
    std::shared_ptr<boost::asio::io_context> m_context;
    std::shared_ptr<state> m_state;
};

}  // namespace ua::sockudp
