#include "IoThread.h"

#include <iostream>

namespace ua::sockudp {

io_thread::io_thread(std::shared_ptr<boost::asio::io_context> context)
    : m_context(std::move(context)) {}

io_thread::~io_thread() {
    stop();
}

void io_thread::start(std::function<void()> on_exit) {
    if (m_thread.joinable()) return;
    m_work.emplace(m_context->get_executor());
    m_thread = std::thread([context = m_context, on_exit = std::move(on_exit)] {
        for (;;) {
            try {
                context->run();
                break;
            } catch (const std::exception& e) {
                std::cerr << "I/O thread: " << e.what() << '\n';
            } catch (...) {
                std::cerr << "I/O thread: unknown exception\n";
            }
        }
        try {
            if (on_exit) on_exit();
        } catch (...) {
        }
    });
}

void io_thread::stop() {
    m_work.reset();
    m_context->stop();
    if (!m_thread.joinable()) return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();  // stopped from a completion: the loop ends on return
    else
        m_thread.join();
}

}  // namespace ua::sockudp
