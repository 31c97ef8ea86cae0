#pragma once
// The three queues of a running machine and the worker loop that empties
// them: the internal queue (the machine's own posts and timer expiries)
// completely, then one external signal per semaphore wait. Saved signals
// return to the front of the internal queue after every state change.

#include <FsmSignal.h>

template <class Owner, class Signal>
class CApplFsm;

#include <ace/Guard_T.h>
#include <ace/Thread_Manager.h>
#include <ace/Thread_Mutex.h>
#include <ace/Thread_Semaphore.h>

#include <deque>
#include <memory>

template <class Owner, class Signal>
class CFsmInput {
  public:
    using SignalPtr = std::unique_ptr<Signal>;

    CFsmInput(CApplFsm<Owner, Signal>* owner, LogTrace* trace)
        : m_semaphore(0, nullptr, nullptr, 0x7fffffff), m_owner(owner), m_trace(trace) {}

    // Queued signals are discarded, external, internal and saved in this
    // order; each owns its payload, so nothing is left behind.
    virtual ~CFsmInput() {
        Clear(m_externalLock, m_external);
        Clear(m_internalLock, m_internal);
        Clear(m_savedLock, m_saved);
    }

    CFsmInput(const CFsmInput&) = delete;
    CFsmInput& operator=(const CFsmInput&) = delete;

    // Returns the length of the external queue after the post.
    size_t PutExternal(SignalPtr signal, bool atBack) {
        size_t size;
        {
            ACE_Guard<ACE_Thread_Mutex> guard(m_externalLock);
            if (atBack)
                m_external.push_back(std::move(signal));
            else
                m_external.push_front(std::move(signal));
            size = m_external.size();
        }
        m_semaphore.release();
        return size;
    }

    void PutInternal(SignalPtr signal) {
        ACE_Guard<ACE_Thread_Mutex> guard(m_internalLock);
        m_internal.push_back(std::move(signal));
    }

    void PutSaved(SignalPtr signal) {
        ACE_Guard<ACE_Thread_Mutex> guard(m_savedLock);
        m_saved.push_back(std::move(signal));
    }

    // Removes every internal signal numbered `number` (cancelled timer
    // expiries); returns how many. Number 0 matches nothing.
    size_t PurgeInternal(int32_t number) {
        if (number == 0) return 0;
        std::deque<SignalPtr> removed;  // released after the lock is dropped
        ACE_Guard<ACE_Thread_Mutex> guard(m_internalLock);
        for (auto it = m_internal.begin(); it != m_internal.end();) {
            if (*it && (*it)->GetSignalNo() == number) {
                removed.push_back(std::move(*it));
                it = m_internal.erase(it);
            } else {
                ++it;
            }
        }
        return removed.size();
    }

    // The saved signals, in saving order, go ahead of everything else in
    // the internal queue. Lock order: saved, then internal.
    void RestoreSaved() {
        ACE_Guard<ACE_Thread_Mutex> saved(m_savedLock);
        if (m_saved.empty()) return;
        ACE_Guard<ACE_Thread_Mutex> internal(m_internalLock);
        while (!m_saved.empty()) {
            m_internal.push_front(std::move(m_saved.back()));
            m_saved.pop_back();
        }
    }

    // The worker loop; ends when the thread manager reports this thread
    // cancelled. Nothing thrown by a dispatch gets out of it.
    void Run(ACE_Thread_Manager* manager) {
        m_workerId = ACE_Thread::self();
        while (!manager->testcancel(m_workerId)) {
            try {
                while (SignalPtr signal = PopInternal()) Handle(signal);
                m_semaphore.acquire();
                if (SignalPtr signal = PopExternal()) {
                    if (signal->GetSignalNo() != -1) Handle(signal);
                }
            } catch (...) {
                // A dispatch already catches what jobs throw; anything else
                // (allocation failure) must not end the worker either.
            }
        }
    }

    size_t ExternalSize() {
        ACE_Guard<ACE_Thread_Mutex> guard(m_externalLock);
        return m_external.size();
    }
    size_t InternalSize() {
        ACE_Guard<ACE_Thread_Mutex> guard(m_internalLock);
        return m_internal.size();
    }
    size_t SavedSize() {
        ACE_Guard<ACE_Thread_Mutex> guard(m_savedLock);
        return m_saved.size();
    }

  private:
    // Null entries never reach the queues, but a null is skipped anyway.
    SignalPtr PopInternal() {
        ACE_Guard<ACE_Thread_Mutex> guard(m_internalLock);
        while (!m_internal.empty()) {
            SignalPtr signal = std::move(m_internal.front());
            m_internal.pop_front();
            if (signal) return signal;
        }
        return nullptr;
    }
    SignalPtr PopExternal() {
        ACE_Guard<ACE_Thread_Mutex> guard(m_externalLock);
        if (m_external.empty()) return nullptr;
        SignalPtr signal = std::move(m_external.front());
        m_external.pop_front();
        return signal;
    }

    // What the job did not take is released with the slot.
    void Handle(SignalPtr& slot) {
        if (m_owner->Dispatch(slot)) RestoreSaved();
        slot.reset();
    }

    static void Clear(ACE_Thread_Mutex& lock, std::deque<SignalPtr>& queue) {
        std::deque<SignalPtr> doomed;
        {
            ACE_Guard<ACE_Thread_Mutex> guard(lock);
            doomed.swap(queue);
        }
    }

    ACE_Thread_Semaphore m_semaphore;
    ACE_Thread_Mutex m_externalLock;
    ACE_Thread_Mutex m_internalLock;
    ACE_Thread_Mutex m_savedLock;
    CApplFsm<Owner, Signal>* m_owner;  // the machine whose queues these are
    LogTrace* m_trace;
    std::deque<SignalPtr> m_external;
    std::deque<SignalPtr> m_internal;
    std::deque<SignalPtr> m_saved;
    ACE_thread_t m_workerId{};
};
