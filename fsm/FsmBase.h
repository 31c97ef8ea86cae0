#pragma once
#include "FsmSignal.h"

// Anything that can receive signals: the state machines, and the message
// interface whose PutSignal drops them. A signal's sender field points here.
class CFsmBase {
  public:
    virtual ~CFsmBase() = default;
    // Takes the signal over. atBack: ordinary post (true) or urgent, ahead of
    // everything already queued (false). Callable from any thread.
    virtual void PutSignal(CPELSignalPtr signal, bool atBack = true) = 0;
};
