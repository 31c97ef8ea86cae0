// Throughput of the state-machine framework against a plain baseline that
// hands integers between the same two threads through a mutex and a
// condition variable. Items per second are signals dispatched.
#include <ApplFsm.h>
#include <TraceFileAppender.h>
#include <ace/Guard_T.h>
#include <ace/Token.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <log4cplus/configurator.h>
#include <log4cplus/fileappender.h>
#include <log4cplus/hierarchy.h>
#include <log4cplus/layout.h>
#include <log4cplus/logger.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr int kBatch = 200000;

class CBenchFsm : public CApplFsm<CBenchFsm, CPELSignal> {
  public:
    enum { IDLE = 1 };
    enum { kCount = 60017, kChain = 60018 };

    CBenchFsm(LogTrace* trace, uint8_t mask) : CApplFsm("BenchMachine", IDLE, trace, mask) {}
    ~CBenchFsm() override {
        if (StopFsm() != 0) JoinFsm();
    }

    void Expect(long target) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_count = 0;
        m_target = target;
    }
    void WaitDone() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return m_count >= m_target; });
    }

    void JobCount(SignalSlot&) {
        TraceJob("JobCount");
        Count();
    }
    void JobChain(SignalSlot&) {
        if (!Count()) PutInternal(std::make_unique<CPELSignal>(kChain));
    }
    void JobIgnore(SignalSlot&) {}

    static const Row s_idleRows[];
    static const State s_states[];
    static const StateList kStateList;

  private:
    // Returns true when the batch is complete.
    bool Count() {
        long done = ++m_done;
        if (done < m_targetSeen) return false;
        std::lock_guard<std::mutex> guard(m_mutex);
        m_count = done;
        m_cv.notify_all();
        return true;
    }

  public:
    std::atomic<long> m_done{0};
    long m_targetSeen = 0;

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    long m_count = 0;
    long m_target = 0;
};

// clang-format off
const CBenchFsm::Row CBenchFsm::s_idleRows[] = {
    // signal   next   job
    {kCount,    IDLE,  &CBenchFsm::JobCount},
    {kChain,    IDLE,  &CBenchFsm::JobChain},
};
const CBenchFsm::State CBenchFsm::s_states[] = {
    // name    default next  default job             rows
    {"IDLE",   IDLE,         &CBenchFsm::JobIgnore,  Rows(s_idleRows)},
};
// clang-format on
const CBenchFsm::StateList CBenchFsm::kStateList = States(CBenchFsm::s_states);

void RunBatch(CBenchFsm& fsm, bool internal) {
    fsm.m_done = 0;
    fsm.m_targetSeen = kBatch;
    fsm.Expect(kBatch);
    if (internal) {
        fsm.PutSignal(std::make_unique<CPELSignal>(CBenchFsm::kChain));
    } else {
        std::thread poster([&] {
            for (int i = 0; i < kBatch; ++i)
                fsm.PutSignal(std::make_unique<CPELSignal>(CBenchFsm::kCount));
        });
        poster.join();
    }
    fsm.WaitDone();
}

void BM_ExternalDispatch(benchmark::State& state) {
    CBenchFsm fsm(nullptr, 0);
    fsm.StartFsm(0);
    for (auto _ : state) RunBatch(fsm, false);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_ExternalDispatch)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_InternalDispatch(benchmark::State& state) {
    CBenchFsm fsm(nullptr, 0);
    fsm.StartFsm(0);
    for (auto _ : state) RunBatch(fsm, true);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_InternalDispatch)->Unit(benchmark::kMillisecond)->UseRealTime();

// Mask 31: a dispatch line and a job line per signal... the job above writes
// none, so a traced job line is added by tracing in the count job's place.
void BM_ExternalDispatchTracedToFile(benchmark::State& state) {
    auto logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("LogTrace"));
    logger.removeAllAppenders();
    char path[] = "/tmp/zor-bench-trace-XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    log4cplus::SharedAppenderPtr file(
        new log4cplus::FileAppender(LOG4CPLUS_C_STR_TO_TSTRING(path)));
    file->setLayout(std::make_unique<log4cplus::PatternLayout>(LOG4CPLUS_TEXT("%m%n")));
    logger.addAppender(file);
    logger.setLogLevel(log4cplus::DEBUG_LOG_LEVEL);
    logger.setAdditivity(false);
    {
        LogTrace trace("", 0);
        CBenchFsm fsm(&trace, 31);
        fsm.StartFsm(0);
        for (auto _ : state) RunBatch(fsm, false);
        state.SetItemsProcessed(state.iterations() * kBatch);
    }
    logger.removeAllAppenders();
    std::remove(path);
}
BENCHMARK(BM_ExternalDispatchTracedToFile)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The trace as ZOR writes it in the field: the sample logging configuration
// of the demo suite (or, as the baseline, that configuration as it was with
// a flush after every line), in a scratch working directory, and the echo
// on standard error sent to /dev/null or to a file. Every iteration ends
// with a flush of all buffers, so what is timed has reached the kernel.
enum class TraceConfig { FlushPerLine = 0, Sample = 1 };
enum class Echo { Off = 0, DevNull = 1, File = 2 };

// The trace file of the sample configuration before buffering, as a
// properties text: a rolling file with a flush after every line.
constexpr const char* kFlushPerLineConfig =
    "log4cplus.logger.LogTrace=DEBUG, TRACEFILE\n"
    "log4cplus.additivity.LogTrace=false\n"
    "log4cplus.appender.TRACEFILE=log4cplus::RollingFileAppender\n"
    "log4cplus.appender.TRACEFILE.File=log/zor-trace.log\n"
    "log4cplus.appender.TRACEFILE.CreateDirs=true\n"
    "log4cplus.appender.TRACEFILE.MaxFileSize=5MB\n"
    "log4cplus.appender.TRACEFILE.MaxBackupIndex=5\n"
    "log4cplus.appender.TRACEFILE.ImmediateFlush=true\n"
    "log4cplus.appender.TRACEFILE.layout=log4cplus::PatternLayout\n"
    "log4cplus.appender.TRACEFILE.layout.ConversionPattern=%m%n\n";

class TraceScene {
  public:
    TraceScene(TraceConfig config, Echo echo) {
        namespace fs = std::filesystem;
        m_oldCwd = fs::current_path();
        char dir[] = "/tmp/zor-bench-trace-XXXXXX";
        if (mkdtemp(dir) != nullptr) m_dir = dir;
        fs::current_path(m_dir);
        auto& hierarchy = log4cplus::Logger::getDefaultHierarchy();
        hierarchy.resetConfiguration();
        if (config == TraceConfig::Sample) {
            RegisterTraceFileAppender();
            log4cplus::PropertyConfigurator::doConfigure(LOG4CPLUS_TEXT(ZOR_SAMPLE_LOG_CONFIG));
        } else {
            std::istringstream text(kFlushPerLineConfig);
            log4cplus::PropertyConfigurator(text).configure();
        }
        if (echo != Echo::Off) {
            std::fflush(stderr);
            m_savedStderr = dup(2);
            int fd = echo == Echo::DevNull ? open("/dev/null", O_WRONLY)
                                           : open("echo.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, 2);
            close(fd);
        }
    }
    ~TraceScene() {
        LogTrace::FlushAll();
        if (m_savedStderr >= 0) {
            std::fflush(stderr);
            dup2(m_savedStderr, 2);
            close(m_savedStderr);
        }
        log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
        std::filesystem::current_path(m_oldCwd);
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    TraceScene(const TraceScene&) = delete;
    TraceScene& operator=(const TraceScene&) = delete;

  private:
    std::filesystem::path m_oldCwd, m_dir;
    int m_savedStderr = -1;
};

// The trace log as it was before buffering, for the baseline: each call
// logged, then echoed on unbuffered standard error with a flush of its own.
class FlushPerLineTrace : public LogTrace {
  public:
    FlushPerLineTrace()
        : LogTrace("", 0), m_logger(log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("LogTrace"))) {}
    void Append(const char* format, ...) override {
        char text[kMaxText + 1];
        va_list args;
        va_start(args, format);
        int n = std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        if (n < 0) return;
        ACE_Guard<ACE_Token> guard(m_lock);
        m_logger.forcedLog(log4cplus::DEBUG_LOG_LEVEL, LOG4CPLUS_C_STR_TO_TSTRING(text));
        if (Console()) {
            std::fputs(text, stderr);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
    }

  private:
    ACE_Token m_lock;
    log4cplus::Logger m_logger;
};

// Arguments: configuration and trace log (0 as before buffering, 1 the
// sample configuration and the buffered trace log), echo (0 off,
// 1 /dev/null, 2 file).
void BM_ExternalDispatchTracedSample(benchmark::State& state) {
    const auto config = static_cast<TraceConfig>(state.range(0));
    TraceScene scene(config, static_cast<Echo>(state.range(1)));
    {
        std::unique_ptr<LogTrace> trace;
        if (config == TraceConfig::Sample)
            trace = std::make_unique<LogTrace>("", 0);
        else
            trace = std::make_unique<FlushPerLineTrace>();
        trace->SetConsole(state.range(1) != 0);
        CBenchFsm fsm(trace.get(), 31);
        fsm.StartFsm(0);
        for (auto _ : state) {
            RunBatch(fsm, false);
            LogTrace::FlushAll();
        }
        state.SetItemsProcessed(state.iterations() * kBatch);
    }
}
BENCHMARK(BM_ExternalDispatchTracedSample)
    ->ArgNames({"sample", "echo"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The baseline: the same hand-over of kBatch items from a posting thread to
// a consuming thread, with nothing but a mutex, a condition variable and a
// deque of integers.
void BM_BaselineMutexCondvarQueue(benchmark::State& state) {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<int> queue;
    bool stop = false;
    std::atomic<long> consumed{0};
    std::mutex doneMutex;
    std::condition_variable doneCv;
    long target = 0;
    std::thread consumer([&] {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            cv.wait(lock, [&] { return stop || !queue.empty(); });
            if (stop && queue.empty()) return;
            int v = queue.front();
            queue.pop_front();
            lock.unlock();
            benchmark::DoNotOptimize(v);
            long n = ++consumed;
            std::lock_guard<std::mutex> g(doneMutex);
            if (n >= target) doneCv.notify_all();
        }
    });
    for (auto _ : state) {
        {
            std::lock_guard<std::mutex> g(doneMutex);
            consumed = 0;
            target = kBatch;
        }
        std::thread poster([&] {
            for (int i = 0; i < kBatch; ++i) {
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    queue.push_back(i);
                }
                cv.notify_one();
            }
        });
        poster.join();
        std::unique_lock<std::mutex> lock(doneMutex);
        doneCv.wait(lock, [&] { return consumed >= target; });
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    cv.notify_one();
    consumer.join();
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BaselineMutexCondvarQueue)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
