// Relays of the controller against plain sockets, in one run:
//  - GUI -> ZOR -> process: sentence 151 sent to the controller's command
//    port and received at the APPLANIX port (5071), against a plain
//    forwarder thread that receives on one port and sends to the next (the
//    floor for two loopback hops);
//  - sentence 100 -> 101: the alive query sent to the command port and the
//    answer received at the GUI port (4002), against a plain UDP echo
//    thread (receive, then send back);
//  - the typical command: sentence 20 sent to the command port, relayed to
//    the sounder's handler, "$ZQPEL,1,..." received at its DRZ port, with
//    tracing off and with debug mask 31;
//  - the floor of every design with a receiving thread and a worker: the
//    forwarder with one condition-variable hand-off between two threads;
//  - TIDE fan-out: tide datagrams sent to the command port at a paced rate,
//    relayed to four handlers, each passing every one to its XDRZ port,
//    against plain loopback datagrams at the same pace into one socket.
// p50 and p99 in microseconds; the fixed ports must be free.
#include <DBoperations.h>
#include <LogTrace.h>
#include <Messages.h>
#include <Paths.h>
#include <SuspendMode.h>
#include <ZORControl.h>
#include <ZORHandl.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "BenchFolders.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5000;
const std::string kRelayed = "$ZQPEL,151,1,2,3\n\r";
const std::string kAlive = "$ZQPEL,100,\n\r";

udp::endpoint Loopback(uint16_t port) {
    return udp::endpoint(asio::ip::address_v4::loopback(), port);
}

void Percentiles(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

// Sends `text` from `at` to `to` and waits for one datagram on `at`,
// kRounds times.
void Rounds(benchmark::State& state, udp::socket& at, uint16_t to, const std::string& text) {
    udp::socket& out = at;
    std::vector<double> us;
    us.reserve(kRounds);
    char buffer[512];
    for (int i = 0; i < kRounds; ++i) {
        const auto sent = Clock::now();
        out.send_to(asio::buffer(text), Loopback(to));
        at.receive(asio::buffer(buffer));
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    Percentiles(state, us);
}

// A controller on an ephemeral command port, without launches. Its
// handlers, if a start list asks for some, start without database and
// processes (suspend mode 1) as sounder 0_0: DRZ port 10001.
class CBenchController {
  public:
    explicit CBenchController(uint8_t mask = 0) {
        m_messages.setDbOperations(&m_db);
        CControlSetup setup;
        setup.commandPort = 0;
        setup.launchProcesses = false;
        setup.db = &m_db;
        setup.messages = &m_messages;
        setup.handlerFactory = [](const std::string& name, LogTrace* trace, uint8_t debugMask,
                                  std::shared_ptr<asio::io_context> io) {
            auto handler =
                std::make_unique<CZORHandl>(name.c_str(), CZORHandl::ZPEL_DBINIT, trace, debugMask);
            handler->SetIoContext(std::move(io));
            handler->StartFsm(0);
            handler->PutSignal(std::make_unique<CPELSignal>(CZORHandl::kDbReadCompl));
            return std::unique_ptr<CFsmBase>(std::move(handler));
        };
        m_controller = std::make_unique<CZORControl>("ZORControl", CZORControl::SUPERVISE,
                                                     mask != 0 ? &m_trace : nullptr, mask, setup);
        m_controller->StartFsm(0);
    }
    uint16_t Port() const { return m_controller->CommandPort(); }

  private:
    LogTrace m_trace{"", 0};
    CDBoperations m_db{"bench"};
    CMessages m_messages;
    std::unique_ptr<CZORControl> m_controller;
};

std::optional<udp::socket> Bind(asio::io_context& context, uint16_t port) {
    try {
        return udp::socket(context, Loopback(port));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void BM_PlainForwarder(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        udp::socket in(context, Loopback(0)), at(context, Loopback(0));
        udp::socket out(context, udp::v4());
        const uint16_t inPort = in.local_endpoint().port(), atPort = at.local_endpoint().port();
        std::atomic<bool> done{false};
        std::thread forwarder([&] {
            char buffer[512];
            while (!done.load()) {
                const size_t n = in.receive(asio::buffer(buffer));
                out.send_to(asio::buffer(buffer, n), Loopback(atPort));
            }
        });
        Rounds(state, at, inPort, kRelayed);
        done = true;
        udp::socket(context, udp::v4()).send_to(asio::buffer(kRelayed), Loopback(inPort));
        forwarder.join();
    }
}

// The forwarder with one thread hand-off in the middle, as the controller
// has it: one thread receives and queues the bytes under a mutex and wakes
// the second through a condition variable; the second sends. The floor of
// any design with a receiving thread and a separate worker.
void BM_TwoThreadHandoff(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        udp::socket in(context, Loopback(0)), at(context, Loopback(0));
        udp::socket out(context, udp::v4());
        const uint16_t inPort = in.local_endpoint().port(), atPort = at.local_endpoint().port();
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::string> queue;
        bool done = false;
        std::thread receiving([&] {
            char buffer[512];
            for (;;) {
                const size_t n = in.receive(asio::buffer(buffer));
                std::lock_guard<std::mutex> guard(mutex);
                if (n == 0) {
                    done = true;
                    wake.notify_one();
                    return;
                }
                queue.emplace_back(buffer, n);
                wake.notify_one();
            }
        });
        std::thread working([&] {
            for (;;) {
                std::string bytes;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    wake.wait(lock, [&] { return done || !queue.empty(); });
                    if (queue.empty()) return;
                    bytes = std::move(queue.front());
                    queue.pop_front();
                }
                out.send_to(asio::buffer(bytes), Loopback(atPort));
            }
        });
        Rounds(state, at, inPort, kRelayed);
        udp::socket(context, udp::v4()).send_to(asio::buffer(kRelayed, 0), Loopback(inPort));
        receiving.join();
        working.join();
    }
}

void BM_ControllerRelay151(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        auto at = Bind(context, 5071);
        if (!at) {
            state.SkipWithError("port 5071 is taken");
            return;
        }
        CBenchController controller;
        Rounds(state, *at, controller.Port(), kRelayed);
    }
}

void BM_PlainEcho(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        udp::socket in(context, Loopback(0)), at(context, Loopback(0));
        const uint16_t inPort = in.local_endpoint().port();
        std::atomic<bool> done{false};
        std::thread echo([&] {
            char buffer[512];
            udp::endpoint from;
            while (!done.load()) {
                const size_t n = in.receive_from(asio::buffer(buffer), from);
                in.send_to(asio::buffer(buffer, n), from);
            }
        });
        Rounds(state, at, inPort, kAlive);
        done = true;
        udp::socket(context, udp::v4()).send_to(asio::buffer(kAlive), Loopback(inPort));
        echo.join();
    }
}

void BM_ControllerAlive100To101(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        auto at = Bind(context, 4002);
        if (!at) {
            state.SkipWithError("port 4002 is taken");
            return;
        }
        CBenchController controller;
        Rounds(state, *at, controller.Port(), kAlive);
    }
}

void BM_ControllerLogCommand20(benchmark::State& state) {
    PrivateFolders();
    platform::SetSuspendMode(platform::kSuspendBoth);
    const uint8_t mask = static_cast<uint8_t>(state.range(0));
    for (auto _ : state) {
        asio::io_context context;
        auto drz = Bind(context, 10001);
        if (!drz) {
            state.SkipWithError("port 10001 is taken");
            return;
        }
        CBenchController controller(mask);
        udp::socket(context, udp::v4())
            .send_to(asio::buffer(std::string("$ZQPEL,13,1302_221\n\r")),
                     Loopback(controller.Port()));
        char buffer[256];
        drz->receive(asio::buffer(buffer));  // the greeting: the handler is active
        Rounds(state, *drz, controller.Port(), "$ZQPEL,20,1302_221:12,0\n\r");
    }
}

// Sends kTideCount datagrams to `to` at `rate` per second (paced in steps of
// 1 ms) while a thread counts what arrives at `at`, until `expected` have
// arrived or nothing came for a second. Reports the rate sent, what arrived
// and how many were lost.
constexpr int kTideCount = 100000;
const std::string kTide = "$PTIDE,1.234,20261211,120000*00\r\n";

void PacedFlood(benchmark::State& state, udp::socket& at, uint16_t to, int rate, long expected) {
    std::atomic<long> arrived{0};
    std::atomic<bool> stop{false};
    std::thread counting([&] {
        char buffer[512];
        // Plain receives with a time-out: Asio's own blocking receive would
        // wait for ever once a datagram is lost.
        struct timeval tv {
            0, 200000
        };
        setsockopt(at.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        int quiet = 0;
        while (arrived.load() < expected && quiet < 5) {
            if (::recv(at.native_handle(), buffer, sizeof buffer, 0) < 0) {
                if (stop.load()) ++quiet;
                continue;
            }
            quiet = 0;
            ++arrived;
        }
    });
    asio::io_context context;
    udp::socket out(context, udp::v4());
    const auto begin = Clock::now();
    const int perStep = std::max(1, rate / 1000);
    for (int sent = 0; sent < kTideCount;) {
        for (int i = 0; i < perStep && sent < kTideCount; ++i, ++sent)
            out.send_to(asio::buffer(kTide), Loopback(to));
        std::this_thread::sleep_until(begin + std::chrono::microseconds(1000000LL * sent / rate));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    stop = true;
    counting.join();
    state.counters["sent_per_s"] = kTideCount / seconds;
    state.counters["arrived"] = static_cast<double>(arrived.load());
    state.counters["lost"] = static_cast<double>(expected - arrived.load());
}

constexpr int kTideRate = 20000;

void BM_PlainLoopbackPaced(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        udp::socket at(context, Loopback(0));
        PacedFlood(state, at, at.local_endpoint().port(), kTideRate, kTideCount);
    }
}

// Four handlers without database or processes share one set of ports (the
// sounder key is 0_0 until INIT_PARAM, which this start skips): every
// handler's XDRZ endpoint is port 10002, where all four copies arrive.
void BM_TideFanOutToFourHandlers(benchmark::State& state) {
    PrivateFolders();
    platform::SetSuspendMode(platform::kSuspendBoth);
    for (auto _ : state) {
        asio::io_context context;
        auto xdrz = Bind(context, 10002);
        if (!xdrz) {
            state.SkipWithError("port 10002 is taken");
            return;
        }
        CBenchController controller;
        udp::socket(context, udp::v4())
            .send_to(asio::buffer(std::string("$ZQPEL,13,1302_221:1602_60:1302_222:1602_61\n\r")),
                     Loopback(controller.Port()));
        char buffer[256];
        for (int greeted = 0; greeted < 4; ++greeted) xdrz->receive(asio::buffer(buffer));
        PacedFlood(state, *xdrz, controller.Port(), kTideRate, 4L * kTideCount);
    }
}

}  // namespace

BENCHMARK(BM_PlainForwarder)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoThreadHandoff)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ControllerRelay151)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainEcho)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ControllerAlive100To101)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainLoopbackPaced)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TideFanOutToFourHandlers)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ControllerLogCommand20)->Arg(0)->Arg(31)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
