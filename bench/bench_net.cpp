// The UDP path of the command port against plain sockets, in one run:
//  - throughput: datagrams/s from a sending thread through receiver,
//    intake, a machine's external queue and its job, against a blocking
//    receive loop on the same port; windowed (at most 64 datagrams in
//    flight, so nothing is lost) and as an unpaced burst (loss reported);
//  - one-hop latency: SendPayload to a receiver's data callback against
//    sendto to a blocking receive, p50 and p99 in microseconds.
#include <ApplFsm.h>
#include <CommandIntake.h>
#include <IoThread.h>
#include <Receiver.h>
#include <Sender.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <thread>

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

constexpr int kDatagrams = 20000;
constexpr int kWindow = 64;
constexpr int kPings = 5000;
const std::string kSentence = "$ZQPEL,20,3_17:000123,1\n\r";

// One free port for every case of the run.
uint16_t RunPort() {
    static const uint16_t port = [] {
        asio::io_context context;
        udp::socket probe(context, udp::endpoint(udp::v4(), 0));
        return probe.local_endpoint().port();
    }();
    return port;
}
udp::endpoint Loopback(uint16_t port) {
    return {asio::ip::address_v4::loopback(), port};
}

// A machine whose only job counts what reaches it.
class CCountFsm : public CApplFsm<CCountFsm, CPELSignal> {
  public:
    CCountFsm() : CApplFsm("Bench", 1, nullptr, 0) {}
    ~CCountFsm() override { StopFsm(); }
    void JobCount(SignalSlot&) { count.fetch_add(1, std::memory_order_release); }
    std::atomic<int> count{0};

    static const Row s_rows[];
    static const State s_states[];
    static const StateList kStateList;
};
const CCountFsm::Row CCountFsm::s_rows[] = {{50020, 1, &CCountFsm::JobCount}};
const CCountFsm::State CCountFsm::s_states[] = {{"RUN", 1, &CCountFsm::JobCount, Rows(s_rows)}};
const CCountFsm::StateList CCountFsm::kStateList = States(s_states);

// Sends kDatagrams; window > 0 keeps at most that many ahead of `received`.
void SendAll(udp::socket& out, uint16_t port, int window, const std::atomic<int>& received) {
    const udp::endpoint to = Loopback(port);
    for (int i = 0; i < kDatagrams; ++i) {
        // A full window waits by sleeping, not spinning: on two cores a
        // spinning sender would take a core from the path it measures.
        if (window > 0)
            while (i - received.load(std::memory_order_acquire) >= window)
                std::this_thread::sleep_for(std::chrono::microseconds(20));
        out.send_to(asio::buffer(kSentence), to);
    }
}

// Waits until `count` reaches `target` or nothing arrived for 200 ms.
int Drain(const std::atomic<int>& count, int target) {
    int last = -1;
    auto quietSince = Clock::now();
    for (;;) {
        const int now = count.load(std::memory_order_acquire);
        if (now >= target) return now;
        if (now != last) {
            last = now;
            quietSince = Clock::now();
        } else if (Clock::now() - quietSince > std::chrono::milliseconds(200)) {
            return now;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

void Report(benchmark::State& state, int received, double seconds) {
    state.counters["datagrams_per_s"] = received / seconds;
    state.counters["loss_pct"] = 100.0 * (kDatagrams - received) / kDatagrams;
}

void BM_PlainRecvLoop(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    for (auto _ : state) {
        asio::io_context context;
        udp::socket in(context, udp::v4());
        in.set_option(udp::socket::reuse_address(true));
        in.bind(udp::endpoint(udp::v4(), RunPort()));
        in.set_option(
            udp::socket::receive_buffer_size(ua::sockudp::receiver::kSocketBufferRequest));
        udp::socket out(context, udp::v4());
        std::atomic<int> received{0};
        std::atomic<bool> done{false};
        std::thread loop([&] {
            std::vector<char> buffer(65535);
            in.non_blocking(false);
            while (!done.load()) {
                boost::system::error_code error;
                const size_t n = in.receive(asio::buffer(buffer), 0, error);
                if (!error && n > 0) received.fetch_add(1, std::memory_order_release);
            }
        });
        const auto start = Clock::now();
        SendAll(out, RunPort(), window, received);
        const int got = Drain(received, kDatagrams);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        done = true;
        out.send_to(asio::buffer("x", 1), Loopback(RunPort()));  // wake the loop
        loop.join();
        Report(state, got, seconds);
    }
}

void BM_ReceiverIntakeJob(benchmark::State& state) {
    const int window = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto context = std::make_shared<asio::io_context>();
        CCountFsm machine;
        machine.StartFsm();
        CCommandIntake intake(&machine, &machine);
        ua::sockudp::receiver receiver(context);
        receiver.start(RunPort());
        receiver.set_data_callback(intake.DataCallback());
        ua::sockudp::io_thread io(context);
        io.start();
        asio::io_context plain;
        udp::socket out(plain, udp::v4());

        const auto start = Clock::now();
        SendAll(out, RunPort(), window, machine.count);
        const int got = Drain(machine.count, kDatagrams);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        receiver.stop();
        io.stop();
        Report(state, got, seconds);
    }
}

void Percentiles(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

void BM_LatencyRawSendtoRecv(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        udp::socket in(context, udp::endpoint(udp::v4(), RunPort()));
        udp::socket out(context, udp::v4());
        std::atomic<long long> arrived{0};
        std::atomic<bool> done{false};
        std::thread loop([&] {
            char buffer[256];
            while (!done.load()) {
                boost::system::error_code error;
                in.receive(asio::buffer(buffer), 0, error);
                arrived.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
            }
        });
        std::vector<double> us;
        for (int i = 0; i < kPings; ++i) {
            arrived.store(0);
            const auto sent = Clock::now();
            out.send_to(asio::buffer(kSentence), Loopback(RunPort()));
            long long at;
            while ((at = arrived.load(std::memory_order_acquire)) == 0) {
            }
            us.push_back((at - sent.time_since_epoch().count()) / 1000.0);
        }
        done = true;
        out.send_to(asio::buffer(kSentence), Loopback(RunPort()));
        loop.join();
        Percentiles(state, us);
    }
}

void BM_LatencySendPayload(benchmark::State& state) {
    for (auto _ : state) {
        auto context = std::make_shared<asio::io_context>();
        std::atomic<long long> arrived{0};
        ua::sockudp::receiver receiver(context);
        receiver.set_data_callback([&](const char*, size_t) {
            arrived.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
        });
        receiver.start(RunPort());
        ua::sockudp::io_thread io(context);
        io.start();
        const CPELSignal signal(50020, CFsmPayload::Copy(kSentence));
        const std::string address = "127.0.0.1:" + std::to_string(RunPort());
        SendPayload(signal, address, context);  // creates the process-wide sender
        while (arrived.load() == 0) {
        }
        std::vector<double> us;
        for (int i = 0; i < kPings; ++i) {
            arrived.store(0);
            const auto sent = Clock::now();
            SendPayload(signal, address, context);
            long long at;
            while ((at = arrived.load(std::memory_order_acquire)) == 0) {
            }
            us.push_back((at - sent.time_since_epoch().count()) / 1000.0);
        }
        receiver.stop();
        io.stop();
        Percentiles(state, us);
    }
}

}  // namespace

BENCHMARK(BM_PlainRecvLoop)->Arg(kWindow)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiverIntakeJob)->Arg(kWindow)->Arg(0)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LatencyRawSendtoRecv)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LatencySendPayload)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
