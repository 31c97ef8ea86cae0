#include "MessageFsmInterf.h"

#include <memory>

#include "FsmSignal.h"

CMessageFsmInterf::CMessageFsmInterf(CMessageClock& clock) : CMessages(clock) {}

CMessageFsmInterf::~CMessageFsmInterf() = default;

void CMessageFsmInterf::attachTarget(CFsmBase* target) {
    m_target.store(target);
}

void CMessageFsmInterf::notifyNewMessage() {
    CFsmBase* const target = m_target.load();
    if (target == nullptr) return;
    target->PutSignal(std::make_unique<CPELSignal>(kNewMessageSignal, static_cast<CFsmBase*>(this),
                                                   CFsmPayload::Copy(kNewMessagePayload)),
                      true);
}

void CMessageFsmInterf::PutSignal(CPELSignalPtr /*signal*/, bool /*atBack*/) {}
