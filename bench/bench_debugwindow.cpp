// The debug window under a trace flood: two machines with mask 31 dispatch
// 25,000 signals each, every dispatch writing a dispatch line and a job line
// (100,000 trace lines, echoed to standard error and mirrored by the
// window). Compared in one run:
//   hidden - the window exists but is hidden (the baseline);
//   shown  - the window is shown.
// Lines reach the view batched, one append per event-loop turn: with one
// queued append per line the GUI thread fell more than a minute behind such
// a flood (about 400,000 appends) on the development machine.
// Time is the machines' dispatch time. Counters: max_lag_ms, the longest the
// GUI thread's event loop fell behind a 10 ms timer; drain_ms, how long after
// the last dispatch the window showed the last line.
#include <ApplFsm.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <log4cplus/logger.h>
#include <log4cplus/nullappender.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <thread>

#include "DebugStream.h"

namespace {

constexpr int kSignalsPerMachine = 25000;
constexpr int kViewLines = 1000;

class CFloodFsm : public CApplFsm<CFloodFsm, CPELSignal> {
  public:
    enum { IDLE = 1 };
    enum { kWork = 60017 };

    CFloodFsm(LogTrace* trace, const char* name) : CApplFsm(name, IDLE, trace, 31) {}
    ~CFloodFsm() override {
        if (StopFsm() != 0) JoinFsm();
    }

    void JobWork(SignalSlot&) {
        TraceJob("JobWork");
        ++done;
    }
    void JobIgnore(SignalSlot&) {}

    static const Row s_idleRows[];
    static const State s_states[];
    static const StateList kStateList;

    std::atomic<int> done{0};
};

// clang-format off
const CFloodFsm::Row CFloodFsm::s_idleRows[] = {
    // signal   next   job
    {kWork,     IDLE,  &CFloodFsm::JobWork},
};
const CFloodFsm::State CFloodFsm::s_states[] = {
    // name    default next  default job             rows
    {"IDLE",   IDLE,         &CFloodFsm::JobIgnore,  Rows(s_idleRows)},
};
// clang-format on
const CFloodFsm::StateList CFloodFsm::kStateList = States(CFloodFsm::s_states);

enum Mode { kHidden = 0, kShown = 1 };

// Standard error goes to /dev/null for the run: the echo still costs its
// writes, the terminal is spared 100,000 lines per iteration.
class QuietStderr {
  public:
    QuietStderr() : m_saved(::dup(2)) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 2);
            ::close(null);
        }
    }
    ~QuietStderr() {
        if (m_saved >= 0) {
            ::dup2(m_saved, 2);
            ::close(m_saved);
        }
    }

  private:
    int m_saved;
};

void BM_TraceFloodIntoDebugWindow(benchmark::State& state) {
    const auto mode = static_cast<Mode>(state.range(0));
    auto logger = log4cplus::Logger::getInstance(LOG4CPLUS_TEXT("LogTrace"));
    logger.removeAllAppenders();
    logger.addAppender(log4cplus::SharedAppenderPtr(new log4cplus::NullAppender()));
    logger.setLogLevel(log4cplus::DEBUG_LOG_LEVEL);

    QuietStderr quiet;
    QPlainTextEdit view;
    view.setMaximumBlockCount(kViewLines);
    view.resize(800, 400);
    Q_DebugStream err(std::cerr);
    auto* pump = new CDebugLinePump(&view, kViewLines);  // a child of the view
    QObject::connect(&err, &Q_DebugStream::updateText, pump, &CDebugLinePump::AddLine,
                     Qt::DirectConnection);
    if (mode == kHidden) {
        view.hide();
    } else {
        view.show();
    }

    LogTrace trace("", 0);
    trace.SetConsole(true);
    trace.SetConsoleStream(&std::cerr);
    CFloodFsm first(&trace, "FloodA");
    CFloodFsm second(&trace, "FloodB");
    first.StartFsm(0);
    second.StartFsm(0);

    double maxLagMs = 0, drainMs = 0;
    int round = 0;
    for (auto _ : state) {
        first.done = 0;
        second.done = 0;
        const QString marker = QString("end of round %1").arg(++round);

        // The GUI thread's loop, watched by a 10 ms timer.
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            maxLagMs = std::max(maxLagMs, sinceTick.nsecsElapsed() / 1e6 - 10.0);
            sinceTick.restart();
        });
        tick.start(10);

        const auto start = std::chrono::steady_clock::now();
        std::chrono::steady_clock::time_point dispatched;
        std::atomic<bool> allDispatched{false};
        std::thread poster([&] {
            for (int i = 0; i < kSignalsPerMachine; ++i) {
                first.PutSignal(std::make_unique<CPELSignal>(CFloodFsm::kWork));
                second.PutSignal(std::make_unique<CPELSignal>(CFloodFsm::kWork));
            }
            while (first.done < kSignalsPerMachine || second.done < kSignalsPerMachine)
                std::this_thread::yield();
            dispatched = std::chrono::steady_clock::now();
            trace.Append("%s", marker.toLatin1().constData());
            allDispatched = true;
        });
        const auto shown = [&] {
            const QTextBlock last = view.document()->lastBlock().previous();
            return allDispatched && last.isValid() && last.text() == marker;
        };
        while (!shown()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const auto end = std::chrono::steady_clock::now();
        poster.join();
        tick.stop();

        state.SetIterationTime(std::chrono::duration<double>(dispatched - start).count());
        drainMs =
            std::max(drainMs, std::chrono::duration<double, std::milli>(end - dispatched).count());
    }
    state.SetItemsProcessed(state.iterations() * 2 * kSignalsPerMachine);
    state.counters["max_lag_ms"] = maxLagMs;
    state.counters["drain_ms"] = drainMs;
    logger.removeAllAppenders();
}
BENCHMARK(BM_TraceFloodIntoDebugWindow)
    ->ArgName("mode")
    ->Arg(kHidden)
    ->Arg(kShown)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
