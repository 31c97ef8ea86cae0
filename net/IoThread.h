#pragma once
// The one thread that runs the process-wide I/O context: every receive and
// send completion of the process happens on it.

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace ua::sockudp {

class io_thread {
  public:
    explicit io_thread(std::shared_ptr<boost::asio::io_context> context);
    // Stops the context and waits for the thread.
    ~io_thread();

    io_thread(const io_thread&) = delete;
    io_thread& operator=(const io_thread&) = delete;

    // Starts the thread; it runs the context (also while no socket has work)
    // until stop. `on_exit` runs on the thread after the run loop has ended,
    // e.g. for the owner's trace line. An exception from a completion
    // handler is written to stderr and the loop goes on. Throws
    // std::system_error if the thread cannot be created; a second start
    // does nothing.
    void start(std::function<void()> on_exit = {});

    // Stops the context and waits for the thread to leave. Idempotent.
    void stop();

  private:
    std::shared_ptr<boost::asio::io_context> m_context;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> m_work;
    std::thread m_thread;
};

}  // namespace ua::sockudp
