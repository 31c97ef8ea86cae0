// The process layer against the bare system calls, in one run:
//  - start and wait for a trivial program (/bin/true): ProcessManager's
//    Spawn + Wait against posix_spawn + waitpid with no settings;
//  - IsImageRunning with 500 processes running (copies of sleep started by
//    the benchmark and ended afterwards): a name no process has (the comm
//    alone decides), a long name whose first 15 bytes every sleeper shares
//    (each one's command words must be read), against only listing /proc.
// Run it inside scripts/netns-run --pid for a process table of just the
// benchmark's own processes.
#include <Process.h>
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr int kSleepers = 500;
const std::string kSleeperName = "SleeperWithLongImageName";

void BM_StartWait_Layer(benchmark::State& state) {
    platform::ProcessManager manager;
    for (auto _ : state) {
        const int pid = manager.Spawn("/bin/true");
        if (pid <= 0 || manager.Wait(pid, std::chrono::seconds(10)) != pid) {
            state.SkipWithError(manager.LastError().c_str());
            break;
        }
    }
}
BENCHMARK(BM_StartWait_Layer)->Unit(benchmark::kMicrosecond);

void BM_StartWait_PosixSpawn(benchmark::State& state) {
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    for (auto _ : state) {
        pid_t pid = -1;
        int status = 0;
        if (::posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid) {
            state.SkipWithError("posix_spawn failed");
            break;
        }
    }
}
BENCHMARK(BM_StartWait_PosixSpawn)->Unit(benchmark::kMicrosecond);

// kSleepers copies of sleep under a long name, for the lifetime of one
// benchmark run.
class Sleepers {
  public:
    Sleepers() {
        char pattern[] = "/tmp/zor_bench_process_XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        m_dir = pattern;
        const fs::path copy = m_dir / kSleeperName;
        std::error_code error;
        fs::copy_file("/bin/sleep", copy, error);
        if (error) return;
        std::string path = copy.string();
        char seconds[] = "1000";
        char* argv[] = {path.data(), seconds, nullptr};
        for (int i = 0; i < kSleepers; ++i) {
            pid_t pid = -1;
            if (::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) break;
            m_pids.push_back(pid);
        }
    }
    ~Sleepers() {
        for (const pid_t pid : m_pids) ::kill(pid, SIGKILL);
        for (const pid_t pid : m_pids) ::waitpid(pid, nullptr, 0);
        std::error_code ignored;
        if (!m_dir.empty()) fs::remove_all(m_dir, ignored);
    }
    Sleepers(const Sleepers&) = delete;
    Sleepers& operator=(const Sleepers&) = delete;
    bool Ready() const { return m_pids.size() == kSleepers; }

  private:
    fs::path m_dir;
    std::vector<pid_t> m_pids;
};

void BM_IsImageRunning500(benchmark::State& state, const std::string& name, bool expected) {
    Sleepers sleepers;
    if (!sleepers.Ready() || !platform::IsImageRunning(kSleeperName)) {
        state.SkipWithError("could not start the sleepers");
        return;
    }
    for (auto _ : state) {
        if (platform::IsImageRunning(name) != expected) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
}
BENCHMARK_CAPTURE(BM_IsImageRunning500, NoSuchName, std::string("Tessera.exe"), false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_IsImageRunning500, SharedLongPrefix, kSleeperName + "X", false)
    ->Unit(benchmark::kMillisecond);

// The floor: listing /proc without looking into any entry.
void BM_ListProc500(benchmark::State& state) {
    Sleepers sleepers;
    if (!sleepers.Ready()) {
        state.SkipWithError("could not start the sleepers");
        return;
    }
    for (auto _ : state) {
        int count = 0;
        DIR* dir = ::opendir("/proc");
        while (const dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
        ::closedir(dir);
        benchmark::DoNotOptimize(count);
    }
}
BENCHMARK(BM_ListProc500)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
