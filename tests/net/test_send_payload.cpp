// The process-wide sender behind SendPayload: created only by a send that
// has bytes, once, and shared by concurrent first callers. One test, in this
// order, since the sender lives until the process ends.
#include <FsmSignal.h>
#include <IoThread.h>
#include <Sender.h>
#include <gtest/gtest.h>

#include <boost/asio/ip/udp.hpp>
#include <set>
#include <thread>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;

TEST(SendPayload, CreatedOnceByTheFirstRealSendsAndSharedByConcurrentCallers) {
    auto context = std::make_shared<asio::io_context>();
    ua::sockudp::io_thread io(context);
    io.start();
    asio::io_context plain;
    udp::socket inbox(plain, udp::endpoint(asio::ip::address_v4::loopback(), 0));
    inbox.set_option(udp::socket::receive_buffer_size(1 << 20));
    const std::string address = "127.0.0.1:" + std::to_string(inbox.local_endpoint().port());

    // No payload (or no signal): nothing sent, no sender created.
    CPELSignal empty(50024);
    SendPayload(empty, address, context);
    SendPayload(nullptr, address, context);
    ASSERT_EQ(ua::sockudp::process_sender(), nullptr);

    // Concurrent first calls from several worker threads.
    constexpr int kThreads = 8, kEach = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                CPELSignal s(50000, CFsmPayload::Copy(std::to_string(t * 1000 + i)));
                SendPayload(s, address, context);
            }
        });
    }
    for (auto& th : threads) th.join();
    const auto shared = ua::sockudp::process_sender();
    ASSERT_NE(shared, nullptr);

    std::set<std::string> seen;
    std::set<uint16_t> sources;
    char buffer[64];
    for (int i = 0; i < kThreads * kEach; ++i) {
        udp::endpoint from;
        const size_t n = inbox.receive_from(asio::buffer(buffer), from);
        seen.insert(std::string(buffer, n));
        sources.insert(from.port());
    }
    EXPECT_EQ(seen.size(), size_t{kThreads * kEach});
    EXPECT_EQ(sources.size(), 1u);  // one socket sent them all

    // Bad addresses are reported on stderr, never thrown at the job, and
    // the sender stays the same.
    CPELSignal sentence(50024, CFsmPayload::Copy("$ZQPEL,24,\n\r"));
    testing::internal::CaptureStderr();
    SendPayload(sentence, "127.0.0.1:no-such-service", context);
    SendPayload(sentence, "127.0.0.1", context);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    EXPECT_EQ(ua::sockudp::process_sender(), shared);

    // The caller keeps its signal and payload.
    EXPECT_EQ(sentence.payload.view(), "$ZQPEL,24,\n\r");
}

}  // namespace
