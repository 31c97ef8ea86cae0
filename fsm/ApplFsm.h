#pragma once
// The running machine: a table machine with its own input queues, worker
// thread, timer and timer thread.
//
// Lifecycle: construct (queues and timer exist, so signals posted before
// the start wait for it), StartFsm (InitJob runs once on the calling thread,
// then the threads start), StopAndJoin from the concrete destructor.

#include <Fsm.h>
#include <FsmInput.h>
#include <FsmTimer.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/Thread_Manager.h>

#include <atomic>
#include <cstdio>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

template <class Owner, class Signal>
class CApplFsm : public CFsm<Owner, Signal> {
    using Base = CFsm<Owner, Signal>;

  public:
    using typename Base::SignalSlot;
    using InputType = CFsmInput<Owner, Signal>;
    using TimerType = CFsmTimer<Owner, Signal>;

    // How long StopFsm waits for the threads.
    static constexpr int kStopWaitSeconds = 10;
    // How much longer StopAndJoin waits for a job that outlived StopFsm's wait.
    static constexpr int kJoinWaitSeconds = 10;

    CApplFsm(const char* name, int32_t initialState, LogTrace* trace, uint8_t debugMask)
        : Base(name, initialState, trace, debugMask),
          m_trace(trace),
          m_input(std::make_unique<InputType>(this, trace)),
          m_timer(std::make_unique<TimerType>(this, trace)),
          m_threadManager(std::make_unique<ACE_Thread_Manager>()) {}

    // The concrete machine stops the threads in its own destructor, before
    // its members go:  StopAndJoin();
    // This is the safety net for the framework's own parts. When a job never
    // returned, the queues, the timer and the thread manager are leaked on
    // purpose: the job's thread still runs in them (and the thread manager's
    // own destructor would wait for it without end).
    ~CApplFsm() override {
        if (!StopAndJoin()) {
            KeepForever(m_input.release());
            KeepForever(m_timer.release());
            KeepForever(m_threadManager.release());
        }
    }

    // Ordinary posts go to the back of the external queue, urgent ones to
    // the front. A backlog of more than 10 signals is traced at each post.
    void PutSignal(SignalSlot signal, bool atBack = true) override {
        if (!signal) return;
        const int32_t number = signal->GetSignalNo();
        const size_t size = m_input->PutExternal(std::move(signal), atBack);
        if (atBack && size > 10 && m_trace != nullptr) {
            char name[fsm_trace::kSignalName];
            fsm_trace::ExternalQueue(m_trace, this->SignalName(number, name),
                                     static_cast<unsigned>(size));
        }
    }

    // A signal to this machine itself, dispatched before any external one.
    void PutInternal(SignalSlot signal) {
        if (signal) m_input->PutInternal(std::move(signal));
    }

    // Standard job: park the signal until the next change of state.
    void Save(SignalSlot& slot) {
        this->TraceJob("Save");
        if (slot) m_input->PutSaved(std::move(slot));
    }

    virtual void InitJob() {}

    // Runs InitJob, then starts the timer and worker threads. Returns 0, or
    // -1 when the machine already runs or a thread could not be started.
    int StartFsm(long priority = 0) {
        if (m_started) return -1;
        m_started = true;
        try {
            InitJob();
        } catch (const std::exception& e) {
            this->TraceError("InitJob threw: %s", e.what());
        } catch (...) {
            this->TraceError("InitJob threw");
        }
        const long flags = THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED;
        if (m_threadManager->spawn(&TimerEntry, this, flags, &m_timerThread.id, nullptr,
                                   priority) == -1 ||
            m_threadManager->spawn(&WorkerEntry, this, flags, &m_workerThread.id, nullptr,
                                   priority) == -1) {
            this->TraceError("StartFsm: cannot start the machine's threads");
            m_threadManager->cancel_all();
            m_input->PutExternal(std::make_unique<Signal>(-1), false);
            m_threadManager->wait();
            return -1;
        }
        m_running = true;
        PutSignal(std::make_unique<Signal>(-1), false);
        return 0;
    }

    // Cancels both threads, wakes the worker and waits for them, at most
    // kStopWaitSeconds. Returns 0 when they ended, -1 when the wait gave up
    // (a job still blocks; traced).
    int StopFsm() {
        if (!m_running) return 0;
        m_threadManager->cancel_all();
        PutSignal(std::make_unique<Signal>(-1), false);
        if (!WaitForThreads(m_stopWaitSeconds)) {
            this->TraceError("StopFsm: threads still running after %d s", m_stopWaitSeconds);
            return -1;
        }
        m_running = false;
        return 0;
    }

    // Waits, without a limit, for threads that StopFsm gave up on: a job
    // that still runs must finish before the machine it works on is freed.
    // A job that never returns keeps this call from ever returning: use
    // StopAndJoin where the process must be able to end.
    void JoinFsm() {
        if (!m_running) return;
        m_threadManager->wait();
        m_running = false;
    }

    // The one call for a concrete machine's destructor, and for an owner
    // before it frees a machine. Stops the threads (StopFsm) and, when a job
    // still runs, waits kJoinWaitSeconds more. True when the threads ended:
    // the machine may be freed. False when a job still runs after both
    // limits: an error line goes to the trace (whatever the debug mask) and to
    // standard error, and the framework leaves its own parts allocated (see
    // the destructor). An owner that gets false should not free the machine
    // either (release its pointer): the job still uses the machine's members.
    // Once false, later calls return false at once.
    bool StopAndJoin() {
        if (m_abandoned) return false;
        if (StopFsm() == 0) return true;
        if (WaitForThreads(m_joinWaitSeconds)) {
            m_running = false;
            return true;
        }
        m_abandoned = true;
        AbandonedLine();
        // The thread that did end (the timer's, as a rule) is joined all the
        // same: only the stuck one is left to itself.
        for (Thread* thread : {&m_timerThread, &m_workerThread}) {
            if (thread->ended) m_threadManager->join(thread->id);
        }
        return false;
    }

    // Shorter limits for StopFsm and StopAndJoin (tests).
    void SetStopLimits(int stopSeconds, int joinSeconds) {
        m_stopWaitSeconds = stopSeconds;
        m_joinWaitSeconds = joinSeconds;
    }

    // Starts a one-shot timer that posts signal `emitNumber`, carrying the
    // payload, after `delayMs`. Two starts give two expiries.
    void StartTimer(int32_t emitNumber, int32_t delayMs, CFsmPayload payload = {}) {
        TimerTrace(true, emitNumber, static_cast<unsigned>(delayMs));
        m_timer->Start(
            std::make_unique<CFsmTimeSignal>(-2, emitNumber, delayMs, std::move(payload)));
    }

    // Cancels every pending timer `emitNumber` and any of its expiries not
    // yet dispatched.
    void StopTimer(int32_t emitNumber) {
        TimerTrace(false, emitNumber, 0);
        m_timer->Stop(emitNumber);
    }

    InputType& Input() { return *m_input; }
    TimerType& GetTimer() { return *m_timer; }
    bool Running() const { return m_running; }

  private:
    // A part left to a thread that may still run: never freed, and not a
    // leak for the leak checker either.
    static void KeepForever(const void* part) {
#if defined(__SANITIZE_ADDRESS__)
        __lsan_ignore_object(part);
#else
        (void)part;
#endif
    }

    // True when the threads ended within `seconds`.
    bool WaitForThreads(int seconds) {
        ACE_Time_Value deadline = ACE_OS::gettimeofday() + ACE_Time_Value(seconds);
        return m_threadManager->wait(&deadline) != -1;
    }

    void AbandonedLine() {
        char text[fsm_trace::kDataLine];
        std::snprintf(text, sizeof text,
                      "machine %s: a job still runs %d s after the stop; the machine is left "
                      "allocated",
                      this->Name().c_str(), m_stopWaitSeconds + m_joinWaitSeconds);
        // A data line whatever the mask: the process is about to end without
        // this machine's clean-up, and that must show.
        fsm_trace::DataText(m_trace, this->TraceFlags() | FSM_TRACE_DATA, this->Name().c_str(),
                            "\n\tERROR: %s", text);
        // The trace echoes to standard error itself when its console is on.
        if (m_trace == nullptr || !m_trace->Console()) std::fprintf(stderr, "ERROR: %s\n", text);
    }

    void TimerTrace(bool start, int32_t emitNumber, unsigned delay) {
        if (m_trace == nullptr || !(this->TraceFlags() & FSM_TRACE_TIMERS)) return;
        char name[fsm_trace::kSignalName];
        fsm_trace::Timer(m_trace, this->TraceFlags(), this->Name().c_str(), start,
                         this->SignalName(emitNumber, name), delay);
    }

    static ACE_THR_FUNC_RETURN WorkerEntry(void* arg) {
        auto* self = static_cast<CApplFsm*>(arg);
        try {
            self->m_input->Run(self->m_threadManager.get());
        } catch (...) {
        }
        self->m_workerThread.ended = true;
        return 0;
    }
    static ACE_THR_FUNC_RETURN TimerEntry(void* arg) {
        auto* self = static_cast<CApplFsm*>(arg);
        try {
            self->m_timer->Run(self->m_threadManager.get());
        } catch (...) {
        }
        self->m_timerThread.ended = true;
        return 0;
    }

    struct Thread {
        ACE_thread_t id{};
        std::atomic<bool> ended{false};  // its entry function has returned
    };

    LogTrace* m_trace;
    std::unique_ptr<InputType> m_input;
    std::unique_ptr<TimerType> m_timer;
    std::unique_ptr<ACE_Thread_Manager> m_threadManager;
    bool m_started = false;
    bool m_running = false;
    Thread m_timerThread;
    Thread m_workerThread;
    bool m_abandoned = false;  // a job outlived StopAndJoin's limits
    int m_stopWaitSeconds = kStopWaitSeconds;
    int m_joinWaitSeconds = kJoinWaitSeconds;
};
