// Relays of the controller against plain sockets, in one run:
//  - GUI -> ZOR -> process: sentence 151 sent to the controller's command
//    port and received at the APPLANIX port (5071), against a plain
//    forwarder thread that receives on one port and sends to the next (the
//    floor for two loopback hops);
//  - sentence 100 -> 101: the alive query sent to the command port and the
//    answer received at the GUI port (4002), against a plain UDP echo
//    thread (receive, then send back).
// p50 and p99 in microseconds; the fixed ports must be free.
#include <DBoperations.h>
#include <Messages.h>
#include <ZORControl.h>
#include <benchmark/benchmark.h>

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

// A controller on an ephemeral command port, without launches.
class CBenchController {
  public:
    CBenchController() {
        m_messages.setDbOperations(&m_db);
        CControlSetup setup;
        setup.commandPort = 0;
        setup.launchProcesses = false;
        setup.db = &m_db;
        setup.messages = &m_messages;
        m_controller =
            std::make_unique<CZORControl>("ZORControl", CZORControl::SUPERVISE, nullptr, 0, setup);
        m_controller->StartFsm(0);
    }
    uint16_t Port() const { return m_controller->CommandPort(); }

  private:
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

}  // namespace

BENCHMARK(BM_PlainForwarder)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoThreadHandoff)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ControllerRelay151)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainEcho)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ControllerAlive100To101)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
