#pragma once
// The message catalogue of a sounder handler. Besides logging, it tells a
// target machine (the controller, which relays it to the operator GUI)
// about every new message with the signal ZQPEL_32. It is a CFsmBase itself
// only so that it can stand as the sender of that signal: signals put to it
// are dropped.

#include <atomic>

#include "FsmBase.h"
#include "Messages.h"

class CMessageFsmInterf : public CMessages, public CFsmBase {
  public:
    explicit CMessageFsmInterf(CMessageClock& clock = CMessageClock::system());
    ~CMessageFsmInterf() override;

    // Stores the machine told about new messages (not owned; null detaches).
    void attachTarget(CFsmBase* target) override;
    // Puts "$ZQPEL,32\n\r" as signal 50032 at the back of the target's
    // external queue; nothing without a target.
    void notifyNewMessage() override;
    // Drops the signal.
    void PutSignal(CPELSignalPtr signal, bool atBack = true) override;

    CFsmBase* target() const { return m_target.load(); }

  private:
    std::atomic<CFsmBase*> m_target{nullptr};
};
