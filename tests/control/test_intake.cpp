// The command-port intake: datagram bytes in, a signal at the back of the
// target's external queue or a report out.
#include <CommandIntake.h>
#include <FsmBase.h>
#include <IoThread.h>
#include <LogTrace.h>
#include <Receiver.h>
#include <TraceCapture.h>
#include <gtest/gtest.h>
#include <log4cplus/spi/loggingevent.h>

#include <boost/asio/ip/udp.hpp>
#include <condition_variable>
#include <mutex>

namespace {

// Stands in for the controller's external queue.
class CQueue : public CFsmBase {
  public:
    void PutSignal(CPELSignalPtr signal, bool atBack) override {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_atBack.push_back(atBack);
        m_signals.push_back(std::move(signal));
        m_cv.notify_all();
    }
    std::vector<CPELSignalPtr> Take() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return std::move(m_signals);
    }
    bool WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_signals.size() >= n; });
    }
    std::vector<bool> m_atBack;

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<CPELSignalPtr> m_signals;
};

const std::string kDataPrefix = "*F: ZORControl                        Data: ";

std::string Bytes(const char* text, size_t n) {
    return std::string(text, n);
}

TEST(Intake, DatagramTable) {
    enum Outcome { SIGNAL, UNKNOWN, CONVERSION };
    struct Case {
        std::string datagram;
        Outcome outcome;
        int32_t number;      // SIGNAL
        std::string report;  // UNKNOWN: the whole report text
    } cases[] = {
        {"$ZQPEL,24,\n\r", SIGNAL, 50024, ""},
        {"$ZQPEL,32\n\r", SIGNAL, 50032, ""},  // no comma after the number
        {"$ZQPEL,43,1,2,3,\r\n", SIGNAL, 50043, ""},
        {"$ZQPEL,20,3_17:5,0\n\r", SIGNAL, 50020, ""},
        {"$ZQPEL,13,", SIGNAL, 50013, ""},
        {"$ZQPEL,100", SIGNAL, 50100, ""},   // no terminator at all
        {"$ZQPEL, 7x,", SIGNAL, 50007, ""},  // white space, trailing text
        {"$ZQPEL,-3,", SIGNAL, 49997, ""},
        {Bytes("$ZQPEL,5\0garbage", 16), SIGNAL, 50005, ""},  // sentence ends at a zero byte
        {"$ZQPEL,2147433647,", SIGNAL, 2147483647, ""},       // largest that maps
        {"$ZQPEL,abc", CONVERSION, 0, ""},
        {"$ZQPEL,", CONVERSION, 0, ""},
        {"$ZQPEL,,5", CONVERSION, 0, ""},
        {"$ZQPEL,-", CONVERSION, 0, ""},
        {Bytes("$ZQPEL,\0"
               "12",
               10),
         CONVERSION, 0, ""},
        {"$ZQPEL,4294967296,", CONVERSION, 0, ""},  // beyond 32 bits
        {"$ZQPEL,2147483647,", CONVERSION, 0, ""},  // fits, but 50000 + n does not
        // never one of the framework's own numbers (wake-up, timer, unknown, end)
        {"$ZQPEL,-50001,", CONVERSION, 0, ""},
        {"$ZQPEL,-50002,", CONVERSION, 0, ""},
        {"$ZQPEL,-50099,", CONVERSION, 0, ""},
        {"$ZQPEL,-50000,", CONVERSION, 0, ""},
        {"$ZQPEL,-49999,", SIGNAL, 1, ""},
        {"$ZQPEL,99999999999999999999999999999999,", CONVERSION, 0, ""},
        {"$xTIDE,1.23", SIGNAL, 59100, ""},
        {"$$TIDE", SIGNAL, 59100, ""},
        {"$GPAPB,A,A", SIGNAL, 58011, ""},
        {"$GPXTE,A,A", SIGNAL, 58012, ""},
        {"$ZQR00,x", SIGNAL, 51100, ""},
        {"$ZQR10", SIGNAL, 51110, ""},
        {"$ZQR14", SIGNAL, 51114, ""},
        {"$ZQR20=1", SIGNAL, 51120, ""},
        {"$ZQR30", SIGNAL, 51130, ""},
        {"$ZQR2", UNKNOWN, 0, "Unknown R-datagram!\n$ZQR2"},  // one digit: r = 2
        {"$ZQR21,long remote datagram", UNKNOWN, 0, "Unknown R-datagram!\n$ZQR21,long rem"},
        {"$ZQR99", UNKNOWN, 0, "Unknown R-datagram!\n$ZQR99"},
        {"ZQPEL,24,\n\r", UNKNOWN, 0, "Unknown datagram!!\nZQPEL,24,\n\r"},
        {"no dollar sign at all, long", UNKNOWN, 0, "Unknown datagram!!\nno dollar sign "},
        {"$", UNKNOWN, 0, "Unknown datagram!!\n$"},
        {"$TID", UNKNOWN, 0, "Unknown datagram!!\n$TID"},  // too short for any form
        {"$xTID", UNKNOWN, 0, "Unknown datagram!!\n$xTID"},
        {"$GPAP", UNKNOWN, 0, "Unknown datagram!!\n$GPAP"},
        {"$ZQPEL24", UNKNOWN, 0, "Unknown datagram!!\n$ZQPEL24"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.datagram));
        TraceCapture trace("LogTrace"), ctrl("ZORCtrl");
        LogTrace log("", 0);
        CQueue queue;
        CFsmBase* const controller = &queue;
        CCommandIntake intake(&queue, controller, &log, true, "ZORControl");
        // The bytes the intake may read, and not one more: a copy of exactly
        // the datagram's length, so a sanitizer sees any overread.
        std::unique_ptr<char[]> exact(new char[c.datagram.size()]);
        std::copy(c.datagram.begin(), c.datagram.end(), exact.get());
        intake.OnDatagram(exact.get(), c.datagram.size());

        auto signals = queue.Take();
        switch (c.outcome) {
            case SIGNAL:
                ASSERT_EQ(signals.size(), 1u);
                EXPECT_EQ(signals[0]->number, c.number);
                EXPECT_EQ(signals[0]->sender, controller);
                EXPECT_EQ(signals[0]->payload.view(), c.datagram);  // exactly the bytes
                EXPECT_TRUE(queue.m_atBack[0]);
                EXPECT_TRUE(trace.Lines().empty());
                EXPECT_TRUE(ctrl.Lines().empty());
                break;
            case UNKNOWN:
                EXPECT_TRUE(signals.empty());
                EXPECT_EQ(trace.Lines(), std::vector<std::string>{kDataPrefix + c.report});
                EXPECT_EQ(ctrl.Lines(), std::vector<std::string>{c.report});
                break;
            case CONVERSION:
                EXPECT_TRUE(signals.empty());
                EXPECT_TRUE(trace.Lines().empty());
                ASSERT_EQ(ctrl.Lines().size(), 1u);
                EXPECT_NE(ctrl.Lines()[0].find("conversion failed"), std::string::npos);
                break;
        }
    }
}

TEST(Intake, ReportLevelsAndTraceSwitch) {
    TraceCapture trace("LogTrace");
    std::vector<log4cplus::LogLevel> levels;
    // Levels: information for reports and receiver status, error for
    // conversion failures.
    class LevelSink : public log4cplus::Appender {
      public:
        explicit LevelSink(std::vector<log4cplus::LogLevel>& out) : m_out(out) {}
        ~LevelSink() override { destructorImpl(); }
        void close() override {}

      protected:
        void append(const log4cplus::spi::InternalLoggingEvent& e) override {
            m_out.push_back(e.getLogLevel());
        }

      private:
        std::vector<log4cplus::LogLevel>& m_out;
    };
    log4cplus::Logger ctrl = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("ZORCtrl"));
    ctrl.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
    log4cplus::SharedAppenderPtr sink(new LevelSink(levels));
    ctrl.addAppender(sink);

    LogTrace log("", 0);
    CQueue queue;
    CCommandIntake quiet(&queue, &queue, &log, false, "ZORControl");  // data lines off
    quiet.OnDatagram("?", 1);
    quiet.OnDatagram("$ZQPEL,x", 8);
    quiet.OnReceiverLog("Bound to input port");
    EXPECT_TRUE(trace.Lines().empty());

    CCommandIntake traced(&queue, &queue, &log, true, "ZORControl");
    traced.OnReceiverLog("Bind to input port 4001");
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{kDataPrefix + "Bind to input port 4001"});

    CCommandIntake noTrace(&queue, &queue, nullptr, true, "ZORControl");  // no trace log
    noTrace.OnDatagram("?", 1);

    ctrl.removeAppender(sink);
    const std::vector<log4cplus::LogLevel> expected = {
        log4cplus::INFO_LOG_LEVEL, log4cplus::ERROR_LOG_LEVEL, log4cplus::INFO_LOG_LEVEL,
        log4cplus::INFO_LOG_LEVEL, log4cplus::INFO_LOG_LEVEL};
    EXPECT_EQ(levels, expected);
}

TEST(Intake, EveryByteLengthUpToTheLargestDatagram) {
    // Long datagrams of every form: no overread, at most 15 bytes reported.
    CQueue queue;
    TraceCapture ctrl("ZORCtrl");
    CCommandIntake intake(&queue, &queue);
    const size_t n = ua::sockudp::receiver::kBufferSize;
    std::unique_ptr<char[]> bytes(new char[n]);
    std::fill(bytes.get(), bytes.get() + n, 'A');
    intake.OnDatagram(bytes.get(), n);
    std::copy_n("$ZQPEL,17", 9, bytes.get());
    intake.OnDatagram(bytes.get(), n);
    auto signals = queue.Take();
    ASSERT_EQ(signals.size(), 1u);
    EXPECT_EQ(signals[0]->number, 50017);
    EXPECT_EQ(signals[0]->payload.length(), static_cast<int32_t>(n));
    EXPECT_EQ(ctrl.Lines(), std::vector<std::string>{"Unknown datagram!!\nAAAAAAAAAAAAAAA"});
}

TEST(Intake, FromTheSocketToTheQueueInArrivalOrder) {
    auto context = std::make_shared<boost::asio::io_context>();
    CQueue queue;
    CCommandIntake intake(&queue, &queue);
    ua::sockudp::receiver r(context);
    r.set_log_callback(intake.LogCallback());
    r.start(0);
    r.set_data_callback(intake.DataCallback());
    ua::sockudp::io_thread io(context);
    io.start();

    boost::asio::io_context plain;
    boost::asio::ip::udp::socket out(plain, boost::asio::ip::udp::v4());
    const boost::asio::ip::udp::endpoint to(boost::asio::ip::address_v4::loopback(),
                                            r.local_port());
    for (int i = 0; i < 50; ++i) {
        const std::string s = "$ZQPEL," + std::to_string(i) + ",\n\r";
        out.send_to(boost::asio::buffer(s), to);
    }
    ASSERT_TRUE(queue.WaitFor(50));
    auto signals = queue.Take();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(signals[i]->number, 50000 + i);
    r.stop();
}

}  // namespace
