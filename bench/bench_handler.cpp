// The handler's share of the typical command, in one run: a logging
// sentence sent to a handler's own port until "$ZQPEL,1,..." arrives at its
// DRZ port (receiver, queue hand-off, the job with its settings read and
// path built, send), against a plain forwarder over the same two loopback
// hops doing no work. p50 and p99 in microseconds, tracing off and with
// debug mask 31. Also what eight idle handlers cost in CPU and memory.
// The handler is brought to its active state without
// processes (suspend mode 1) and without a database, as sounder 0_0: DRZ
// port 10001, handler port 10003 (they must be free).
#include <HandlerPorts.h>
#include <IoThread.h>
#include <LogTrace.h>
#include <Paths.h>
#include <SurveyData.h>
#include <SuspendMode.h>
#include <ZORHandl.h>
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BenchFolders.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using Clock = std::chrono::steady_clock;

constexpr int kPings = 2000;

udp::endpoint Loopback(uint16_t port) {
    return {asio::ip::address_v4::loopback(), port};
}

void Percentiles(benchmark::State& state, std::vector<double>& us) {
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}

// Sends `sentence` to `in` and waits for the next datagram on `out`,
// kPings times.
std::vector<double> PingThrough(uint16_t in, udp::socket& out, const std::string& sentence) {
    asio::io_context context;
    udp::socket sender(context, udp::v4());
    std::vector<double> us;
    char buffer[2048];
    for (int i = 0; i < kPings; ++i) {
        const auto sent = Clock::now();
        sender.send_to(asio::buffer(sentence), Loopback(in));
        out.receive(asio::buffer(buffer));
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
    }
    return us;
}

const std::string kSentence = "$ZQPEL,20,0_0:12,0\n\r";

void BM_PlainForwarder(benchmark::State& state) {
    for (auto _ : state) {
        asio::io_context context;
        udp::socket in(context, udp::endpoint(udp::v4(), 0));
        udp::socket out(context, udp::endpoint(udp::v4(), 0));
        const uint16_t inPort = in.local_endpoint().port();
        const uint16_t outPort = out.local_endpoint().port();
        std::atomic<bool> done{false};
        std::thread forwarder([&] {
            udp::socket relay(context, udp::v4());
            char buffer[2048];
            while (!done.load()) {
                const size_t n = in.receive(asio::buffer(buffer));
                relay.send_to(asio::buffer(buffer, n), Loopback(outPort));
            }
        });
        std::vector<double> us = PingThrough(inPort, out, kSentence);
        done = true;
        udp::socket(context, udp::v4()).send_to(asio::buffer(kSentence), Loopback(inPort));
        forwarder.join();
        Percentiles(state, us);
    }
}

void BM_HandlerLogCommand(benchmark::State& state) {
    PrivateFolders();
    platform::SetSuspendMode(platform::kSuspendBoth);
    const uint8_t mask = static_cast<uint8_t>(state.range(0));
    for (auto _ : state) {
        const uint16_t serial = 0;
        auto context = std::make_shared<asio::io_context>();
        ua::sockudp::io_thread io(context);
        io.start();
        asio::io_context local;
        udp::socket drz(local, udp::v4());
        boost::system::error_code error;
        drz.bind(udp::endpoint(asio::ip::address_v4::loopback(),
                               SounderPort(0, serial, SounderPortKind::Drz)),
                 error);
        if (error) {
            state.SkipWithError("DRZ port 10001 is busy");
            break;
        }
        LogTrace trace("", 0);
        auto handler = std::make_unique<CZORHandl>("ZORH_bench", CZORHandl::ZPEL_DBINIT,
                                                   mask != 0 ? &trace : nullptr, mask);
        handler->SetIoContext(context);
        handler->StartFsm(0);
        auto init = std::make_unique<CPELSignal>(CZORHandl::kDbReadCompl);
        handler->PutSignal(std::move(init));
        // The greeting tells that the handler is active.
        char buffer[256];
        drz.receive(asio::buffer(buffer));
        const std::string sentence = "$ZQPEL,20,0_" + std::to_string(serial) + ":12,0\n\r";
        std::vector<double> us =
            PingThrough(SounderPort(0, serial, SounderPortKind::Handler), drz, sentence);
        handler.reset();
        io.stop();
        Percentiles(state, us);
    }
}

// What building one raw-data path costs in survey settings: the reading
// per sentence as the settings object gives it (load, raw settings, vessel
// name: each a look at the file on disk) against the kept copy that only
// checks the file's size and modification time.
void BM_SurveySettingsPerSentence(benchmark::State& state) {
    PrivateFolders();
    // Older than the time a fresh file is read again whatever its stamp.
    std::this_thread::sleep_for(std::chrono::milliseconds(CSurveyData::kTrustAfterMs + 100));
    const bool kept = state.range(0) != 0;
    for (auto _ : state) {
        if (kept) {
            benchmark::DoNotOptimize(CSurveyData::readRawPathSettings());
        } else {
            CSurveyData survey;
            survey.loadSurvey(std::string());
            std::string root, location, fileName;
            survey.getRawSettings(root, location, fileName);
            benchmark::DoNotOptimize(survey.getVesselName());
        }
    }
}

long long CpuMicros() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Eight active handlers and no traffic: the CPU they take while they wait
// (per cent of one core) and the resident memory of the process. The
// baseline is the same process with no handler over the same time.
void BM_IdleHandlers(benchmark::State& state) {
    PrivateFolders();
    platform::SetSuspendMode(platform::kSuspendBoth);
    const int count = static_cast<int>(state.range(0));
    const auto idle = std::chrono::seconds(state.range(1));
    for (auto _ : state) {
        auto context = std::make_shared<asio::io_context>();
        ua::sockudp::io_thread io(context);
        io.start();
        std::vector<std::unique_ptr<CZORHandl>> handlers;
        for (int i = 0; i < count; ++i) {
            handlers.push_back(
                std::make_unique<CZORHandl>("ZORH_idle", CZORHandl::ZPEL_DBINIT, nullptr, 0));
            handlers.back()->SetIoContext(context);
            handlers.back()->StartFsm(0);
            handlers.back()->PutSignal(std::make_unique<CPELSignal>(CZORHandl::kDbReadCompl));
        }
        // Past the start delay, so that every handler is active.
        std::this_thread::sleep_for(std::chrono::milliseconds(CZORHandl::kStartDelayMs + 500));
        const long long cpu = CpuMicros();
        const auto wall = Clock::now();
        std::this_thread::sleep_for(idle);
        const double spent = static_cast<double>(CpuMicros() - cpu);
        const double elapsed =
            std::chrono::duration<double, std::micro>(Clock::now() - wall).count();
        state.counters["cpu_percent"] = 100.0 * spent / elapsed;
        state.counters["rss_MiB"] = ResidentKiB() / 1024.0;
        handlers.clear();
        io.stop();
    }
}

}  // namespace

BENCHMARK(BM_IdleHandlers)
    ->Args({0, 10})
    ->Args({8, 10})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SurveySettingsPerSentence)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainForwarder)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandlerLogCommand)->Arg(0)->Arg(31)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
