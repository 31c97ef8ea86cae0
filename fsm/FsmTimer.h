#pragma once
// One-shot timers of a running machine. The timer thread makes a pass every
// 100 ms and takes exactly 100 ms off every pending record, whatever time
// really passed: under load timers run late, never early. An expired record
// becomes a signal at the back of the owner's internal queue, followed by a
// wake-up at the front of its external queue.

#include <FsmSignal.h>

template <class Owner, class Signal>
class CApplFsm;

#include <ace/Guard_T.h>
#include <ace/OS_NS_unistd.h>
#include <ace/Thread_Manager.h>
#include <ace/Thread_Mutex.h>

#include <list>
#include <memory>
#include <vector>

template <class Owner, class Signal>
class CFsmTimer {
  public:
    static constexpr int32_t kPassMs = 100;

    CFsmTimer(CApplFsm<Owner, Signal>* owner, LogTrace* trace) : m_owner(owner), m_trace(trace) {}
    virtual ~CFsmTimer() {
        std::list<std::unique_ptr<CFsmTimeSignal>> doomed;
        ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
        doomed.swap(m_timers);
    }

    CFsmTimer(const CFsmTimer&) = delete;
    CFsmTimer& operator=(const CFsmTimer&) = delete;

    void Start(std::unique_ptr<CFsmTimeSignal> record) {
        ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
        m_timers.push_back(std::move(record));
    }

    // Removes every pending record for `emitNumber` and, still under the
    // timer lock, every expiry of it already waiting in the internal queue:
    // after a stop the job never sees an expiry produced before it.
    void Stop(int32_t emitNumber) {
        std::list<std::unique_ptr<CFsmTimeSignal>> removed;
        ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
        for (auto it = m_timers.begin(); it != m_timers.end();) {
            auto next = std::next(it);
            if ((*it)->emitNumber == emitNumber) removed.splice(removed.end(), m_timers, it);
            it = next;
        }
        m_owner->Input().PurgeInternal(emitNumber);
    }

    // One pass; returns how many timers ran out.
    int Pass() {
        int expired = 0;
        {
            ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
            for (auto it = m_timers.begin(); it != m_timers.end();) {
                CFsmTimeSignal& record = **it;
                record.remaining -= kPassMs;
                if (record.remaining < 0) {
                    auto expiry = std::make_unique<Signal>(record);
                    it = m_timers.erase(it);
                    // Under the timer lock, so that a concurrent Stop either
                    // finds the record or purges the expiry.
                    m_owner->Input().PutInternal(std::move(expiry));
                    ++expired;
                } else {
                    ++it;
                }
            }
        }
        // Wake the worker once per expiry, outside the timer lock.
        for (int i = 0; i < expired; ++i) {
            m_owner->PutSignal(std::make_unique<Signal>(-1), false);
        }
        return expired;
    }

    void Run(ACE_Thread_Manager* manager) {
        m_timerId = ACE_Thread::self();
        while (!manager->testcancel(m_timerId)) {
            try {
                Pass();
            } catch (...) {
                // Allocation failure: try again on the next pass.
            }
            ACE_OS::sleep(ACE_Time_Value(0, kPassMs * 1000));
        }
    }

    size_t Pending() {
        ACE_Guard<ACE_Thread_Mutex> guard(m_lock);
        return m_timers.size();
    }

  private:
    ACE_Thread_Mutex m_lock;
    CApplFsm<Owner, Signal>* m_owner;  // the machine whose queues these are
    LogTrace* m_trace;
    std::list<std::unique_ptr<CFsmTimeSignal>> m_timers;
    ACE_thread_t m_timerId{};
};
