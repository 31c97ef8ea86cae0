// The receiver's loop and the sender, over loopback on ephemeral ports.
#include <IoThread.h>
#include <Receiver.h>
#include <Sender.h>
#include <gtest/gtest.h>

#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using ua::sockudp::receiver;

// What a receiver's data callback saw.
class Inbox {
  public:
    receiver::data_callback Callback() {
        return [this](const char* bytes, size_t count) {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_datagrams.emplace_back(bytes, count);
            m_cv.notify_all();
        };
    }
    bool WaitFor(size_t n, int ms = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return m_datagrams.size() >= n; });
    }
    std::vector<std::string> Datagrams() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_datagrams;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_datagrams;
};

// A plain socket to send test datagrams from.
class RawSender {
  public:
    RawSender() : m_socket(m_context, udp::v4()) {}
    void Send(const std::string& bytes, uint16_t port) {
        m_socket.send_to(asio::buffer(bytes),
                         udp::endpoint(asio::ip::address_v4::loopback(), port));
    }

  private:
    asio::io_context m_context;
    udp::socket m_socket;
};

std::string Address(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

struct Running {
    std::shared_ptr<asio::io_context> context = std::make_shared<asio::io_context>();
    ua::sockudp::io_thread thread{context};
    Running() { thread.start(); }
};

TEST(Receiver, LogTextsInOrderAndSilentWithoutLogCallback) {
    auto context = std::make_shared<asio::io_context>();
    std::vector<std::string> texts;
    receiver r(context);
    r.set_log_callback([&](const std::string& t) { texts.push_back(t); });
    r.start(0);
    const std::vector<std::string> expected = {"Set reuse_address to true", "Bind to input port 0",
                                               "Bound to input port", "UDP receive starting"};
    EXPECT_EQ(texts, expected);

    receiver silent(context);  // no log callback: works and says nothing
    EXPECT_NO_THROW(silent.start(0));
    EXPECT_NE(silent.local_port(), 0);
}

TEST(Receiver, LargestAndEmptyDatagrams) {
    Running io;
    Inbox inbox;
    receiver r(io.context);
    r.set_data_callback(inbox.Callback());
    r.start(0);
    RawSender out;
    // The largest UDP payload IPv4 can carry (65535 minus IP and UDP headers).
    std::string big(65507, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
    out.Send(big, r.local_port());
    out.Send("", r.local_port());  // no callback, and the loop goes on
    out.Send("$ZQPEL,24,\n\r", r.local_port());
    ASSERT_TRUE(inbox.WaitFor(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto got = inbox.Datagrams();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], big);
    EXPECT_EQ(got[1], "$ZQPEL,24,\n\r");
    EXPECT_EQ(receiver::kBufferSize, 65535u);
}

TEST(Receiver, CallbackInstalledAfterStartSeesDatagramsAndCanBeReplaced) {
    Running io;
    Inbox first, second;
    receiver r(io.context);
    r.start(0);
    r.set_data_callback(first.Callback());
    RawSender out;
    out.Send("one", r.local_port());
    ASSERT_TRUE(first.WaitFor(1));
    r.set_data_callback(second.Callback());
    out.Send("two", r.local_port());
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(first.Datagrams(), std::vector<std::string>{"one"});
    EXPECT_EQ(second.Datagrams(), std::vector<std::string>{"two"});
}

TEST(Receiver, NoCallbackAfterStopAndNoSpinning) {
    // The context is driven by hand so that the handlers it still runs can
    // be counted.
    auto context = std::make_shared<asio::io_context>();
    Inbox inbox;
    receiver r(context);
    r.set_data_callback(inbox.Callback());
    r.start(0);
    const uint16_t port = r.local_port();
    RawSender out;
    out.Send("before", port);
    while (inbox.Datagrams().empty()) context->run_one_for(std::chrono::seconds(5));
    r.stop();
    EXPECT_EQ(r.local_port(), 0);
    out.Send("after", port);
    context->restart();
    context->poll();  // the aborted receive completes and is not renewed
    EXPECT_EQ(context->poll(), 0u);
    EXPECT_TRUE(context->stopped());  // nothing left to do: no loop
    EXPECT_EQ(inbox.Datagrams(), std::vector<std::string>{"before"});
}

TEST(Receiver, StopWaitsForARunningCallback) {
    Running io;
    std::atomic<bool> inside{false}, release{false}, finished{false};
    receiver r(io.context);
    r.set_data_callback([&](const char*, size_t) {
        inside = true;
        while (!release) std::this_thread::yield();
        finished = true;
    });
    r.start(0);
    RawSender out;
    out.Send("x", r.local_port());
    while (!inside) std::this_thread::yield();
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release = true;
    });
    r.stop();
    EXPECT_TRUE(finished);  // stop returned only after the callback ended
    releaser.join();
}

TEST(Receiver, StopFromInsideTheCallback) {
    Running io;
    receiver r(io.context);
    std::atomic<int> calls{0};
    r.set_data_callback([&](const char*, size_t) {
        ++calls;
        r.stop();
    });
    r.start(0);
    const uint16_t port = r.local_port();
    RawSender out;
    out.Send("a", port);
    out.Send("b", port);
    for (int i = 0; i < 500 && calls == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls.load(), 1);
}

TEST(Receiver, TwoReceiversBindTheSamePort) {
    Running io;
    Inbox a, b;
    receiver first(io.context), second(io.context);
    first.set_data_callback(a.Callback());
    second.set_data_callback(b.Callback());
    first.start(0);
    EXPECT_NO_THROW(second.start(first.local_port()));
    EXPECT_EQ(second.local_port(), first.local_port());
    RawSender out;
    out.Send("shared", first.local_port());
    for (int i = 0; i < 500 && a.Datagrams().empty() && b.Datagrams().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(a.Datagrams().size() + b.Datagrams().size(), 1u);
}

TEST(Receiver, BindFailureNamesTheOperation) {
    asio::io_context plain;
    udp::socket exclusive(plain, udp::endpoint(udp::v4(), 0));  // no address reuse
    auto context = std::make_shared<asio::io_context>();
    receiver r(context);
    try {
        r.start(exclusive.local_endpoint().port());
        FAIL() << "bind to a port held without reuse succeeded";
    } catch (const boost::system::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("bind"), std::string::npos) << e.what();
    }
}

TEST(Sender, SendsExactBytesByAddressOrNameAndRefusesAnAddressWithoutPort) {
    Running io;
    Inbox inbox;
    receiver r(io.context);
    r.set_data_callback(inbox.Callback());
    r.start(0);
    ua::sockudp::sender s(io.context);

    testing::internal::CaptureStderr();
    s.send("lost", "127.0.0.1");
    s.send("lost", "127.0.0.1:");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("127.0.0.1"), std::string::npos) << err;

    const std::string sentence("$ZQPEL,1,2\0x\n\r", 14);
    s.send(sentence, Address(r.local_port()));
    ASSERT_TRUE(inbox.WaitFor(1));
    // A host name still goes through the resolver.
    s.send("by name", "localhost:" + std::to_string(r.local_port()));
    ASSERT_TRUE(inbox.WaitFor(2));
    EXPECT_EQ(inbox.Datagrams(), (std::vector<std::string>{sentence, "by name"}));
}

TEST(Sender, UnresolvableAddressThrowsResolve) {
    auto context = std::make_shared<asio::io_context>();
    ua::sockudp::sender s(context);
    // What is not a numeric address and port goes through the resolver and
    // fails there.
    for (const char* address : {"127.0.0.1:no-such-service", "127.0.0.1:4002x"}) {
        try {
            s.send("x", address);
            ADD_FAILURE() << "no error for " << address;
        } catch (const boost::system::system_error& e) {
            EXPECT_NE(std::string(e.what()).find("resolve"), std::string::npos) << e.what();
        }
    }
}

TEST(Sender, NothingListeningLeavesAReceiverUndisturbed) {
    Running io;
    Inbox inbox;
    receiver r(io.context);
    r.set_data_callback(inbox.Callback());
    r.start(0);
    // A port that was just free: bind, note, close.
    uint16_t deadPort;
    {
        asio::io_context plain;
        udp::socket probe(plain, udp::endpoint(udp::v4(), 0));
        deadPort = probe.local_endpoint().port();
    }
    ua::sockudp::sender s(io.context);
    for (int i = 0; i < 5; ++i) s.send("nobody", Address(deadPort));
    s.send("still here", Address(r.local_port()));
    ASSERT_TRUE(inbox.WaitFor(1));
    EXPECT_EQ(inbox.Datagrams(), std::vector<std::string>{"still here"});
}

TEST(IoThread, RunsUntilStopThenCallsOnExit) {
    auto context = std::make_shared<asio::io_context>();
    std::atomic<bool> exited{false};
    {
        ua::sockudp::io_thread thread(context);
        thread.start([&] { exited = true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(exited);  // no work yet, but it keeps running
        thread.stop();
        EXPECT_TRUE(exited);
        thread.stop();  // idempotent
    }
}

}  // namespace
