#pragma once
// A small machine with its own table, for driving the framework in tests.
// Jobs record what they saw; some block on a gate so that a test can fill
// the queues while the worker is busy, one never returns.

#include <ApplFsm.h>
#include <TraceCapture.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

// Captures "LogTrace" for one test.
using TraceCaptureGuard = TraceCapture;

// A gate a job waits at until the test opens it.
class Gate {
  public:
    void Open() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_waiting = true;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_open; });
    }
    bool WaitUntilBlocked(int ms = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_waiting; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
    bool m_waiting = false;
};

class CTestFsm : public CApplFsm<CTestFsm, CPELSignal> {
  public:
    enum { IDLE = 1, RUNNING, EMPTY };
    // Signal numbers the table knows (from the generic vocabulary).
    enum {
        kStart = 60000,  // "INITIALIZE": IDLE -> RUNNING
        kStay = 60001,   // "TERMINATE": IDLE -> IDLE
        kSaveA = 60017,  // "USER 1": saved in IDLE
        kSaveB = 60018,  // "USER 2": saved in IDLE
        kBlock = 60020,  // "USER 4": waits at the gate
        kNever = 60019,  // "USER 3": never returns
        kPost3 = 60002,  // "OPEN": posts three internal signals
        kThrow = 60003,  // "CLOSE": throws
        kHook = 60004,   // "ACTIVATE": runs the test's hook
    };

    explicit CTestFsm(LogTrace* trace = nullptr, uint8_t mask = 0, int32_t initial = IDLE,
                      const char* name = "TestMachine")
        : CApplFsm(name, initial, trace, mask) {}
    ~CTestFsm() override { StopAndJoin(); }

    void InitJob() override {
        TraceJob("InitJob");
        ++initJobs;
    }

    struct Seen {
        int32_t number;
        int32_t state;  // current state while the job ran
        const char* job;
        bool operator==(const Seen& o) const {
            return number == o.number && state == o.state && std::string(job) == o.job;
        }
    };

    CPELSignal* Kept() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return kept.get();
    }

    std::vector<Seen> Log() {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_log;
    }
    std::vector<int32_t> Numbers() {
        std::vector<int32_t> out;
        for (const auto& s : Log()) out.push_back(s.number);
        return out;
    }
    bool WaitForJobs(size_t count, int ms = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return m_log.size() >= count; });
    }

    void JobRecord(SignalSlot& slot) { Record(slot, "JobRecord"); }
    void JobFirst(SignalSlot& slot) {
        Record(slot, "JobFirst");
        if (hook) hook(*this);
    }
    void JobSecond(SignalSlot& slot) { Record(slot, "JobSecond"); }
    void JobDefault(SignalSlot& slot) { Record(slot, "JobDefault"); }
    void JobKeep(SignalSlot& slot) {
        // Taken before it is recorded: a test that saw the record sees `kept`.
        SignalSlot keep = std::move(slot);
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            kept = std::move(keep);
        }
        Record(kept, "JobKeep");
    }
    void JobBlock(SignalSlot& slot) {
        Record(slot, "JobBlock");
        gate.Wait();
    }
    void JobPost3(SignalSlot& slot) {
        Record(slot, "JobPost3");
        for (int32_t n : {60021, 60022, 60023}) PutInternal(std::make_unique<CPELSignal>(n));
    }
    // Never returns, and touches nothing of the machine once it waits: the
    // machine may be gone meanwhile.
    void JobNever(SignalSlot& slot) {
        Record(slot, "JobNever");
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    void JobThrow(SignalSlot& slot) {
        Record(slot, "JobThrow");
        throw std::runtime_error("boom");
    }
    void JobHook(SignalSlot& slot) {
        Record(slot, "JobHook");
        if (hook) hook(*this);
    }

    static const State s_states[];
    static const Row s_idleRows[];
    static const Row s_runningRows[];
    static const StateList kStateList;

    Gate gate;
    SignalSlot kept;
    int initJobs = 0;
    std::function<void(CTestFsm&)> hook;

  private:
    void Record(SignalSlot& slot, const char* job) {
        TraceJob("%s", job);
        std::lock_guard<std::mutex> guard(m_mutex);
        m_log.push_back({slot ? slot->GetSignalNo() : 0, CurrentState(), job});
        m_cv.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Seen> m_log;
};
