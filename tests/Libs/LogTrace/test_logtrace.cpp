// The trace log: both outputs, the cut, and whole lines under concurrency.
#include <LogTrace.h>
#include <TraceCapture.h>
#include <gtest/gtest.h>
#include <log4cplus/spi/loggingevent.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using TraceCaptureGuard = TraceCapture;

TEST(LogTraceSink, ConsoleEchoAndCut) {
    TraceCaptureGuard capture;
    LogTrace trace("ignored.log", 1000000);

    testing::internal::CaptureStderr();
    trace.Append("quiet %d", 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    trace.SetConsole(true);
    testing::internal::CaptureStderr();
    trace.Append("\n\n");
    trace.Append("%s", std::string(40000, 'x').c_str());
    std::string echoed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(echoed, "\n\n\n" + std::string(29999, 'x') + "\n");

    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "quiet 1");
    EXPECT_EQ(lines[1], "\n\n");
    EXPECT_EQ(lines[2].size(), 29999u);
}

TEST(LogTraceSink, ConcurrentAppendsStayWhole) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    auto writer = [&](char c) {
        const std::string text(1000, c);
        for (int i = 0; i < 200; ++i) trace.Append("%s", text.c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), 1000u);
        EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos);
    }
}

// The echo is buffered: whatever the volume, what reaches standard error is
// each call's text and line end, whole and in order per thread.
TEST(LogTraceSink, ConcurrentEchoesStayWholeLines) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    trace.SetConsole(true);
    testing::internal::CaptureStderr();
    auto writer = [&](char c) {
        for (int i = 0; i < 300; ++i) trace.Append("%c%s", c, std::string(999 + i, c).c_str());
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    LogTrace::FlushAll();
    const std::string echoed = testing::internal::GetCapturedStderr();
    size_t lengths[2] = {1000, 1000}, count = 0, start = 0;
    for (size_t end; (end = echoed.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = echoed.substr(start, end - start);
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos);
        size_t& expected = lengths[line[0] == 'a' ? 0 : 1];
        ASSERT_EQ(line.size(), expected);
        ++expected;
        ++count;
    }
    EXPECT_EQ(start, echoed.size());
    EXPECT_EQ(count, 600u);
}

// An appender that traces from within the trace log's own output: the inner
// call goes through (the lock is recursive) and leaves the outer call's text
// as it was.
class TracingAppender : public log4cplus::Appender {
  public:
    explicit TracingAppender(LogTrace& trace) : m_trace(trace) {}
    ~TracingAppender() override { destructorImpl(); }
    void close() override {}

  protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override {
        if (event.getMessage() == "outer") m_trace.Append("%s", "inner");
    }

  private:
    LogTrace& m_trace;
};

TEST(LogTraceSink, AppendFromWithinAnAppendKeepsBothTexts) {
    TraceCaptureGuard capture;
    LogTrace trace("", 0);
    trace.SetConsole(true);
    auto logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("LogTrace"));
    log4cplus::SharedAppenderPtr tracing(new TracingAppender(trace));
    logger.addAppender(tracing);
    testing::internal::CaptureStderr();
    trace.Append("%s", "outer");
    LogTrace::FlushAll();
    const std::string echoed = testing::internal::GetCapturedStderr();
    logger.removeAppender(tracing);
    EXPECT_EQ(echoed, "inner\nouter\n");
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"outer", "inner"}));
}

}  // namespace
