#include "FsmSignal.h"

CFsmPayload::CFsmPayload(std::unique_ptr<char[]> bytes, int32_t length)
    : m_bytes(std::move(bytes)), m_length(length) {
    if (!m_bytes || m_length <= 0) {
        m_bytes.reset();
        m_length = 0;
    }
}

CFsmPayload CFsmPayload::Copy(const void* bytes, int32_t length) {
    if (bytes == nullptr || length <= 0) return {};
    std::unique_ptr<char[]> copy(new char[static_cast<size_t>(length)]);
    std::memcpy(copy.get(), bytes, static_cast<size_t>(length));
    return CFsmPayload(std::move(copy), length);
}

CFsmPayload CFsmPayload::Copy(std::string_view text) {
    if (text.size() > static_cast<size_t>(INT32_MAX)) return {};
    return Copy(text.data(), static_cast<int32_t>(text.size()));
}

CFsmSignal::CFsmSignal(int32_t number_) : number(number_) {
    std::memset(userData, 0, sizeof userData);
    std::memset(marker, 'X', sizeof marker);
}

CFsmTimeSignal::CFsmTimeSignal(int32_t number_, int32_t emitNumber_, int32_t remainingMs,
                               CFsmPayload payload_)
    : CFsmSignal(number_),
      emitNumber(emitNumber_),
      remaining(remainingMs),
      payload(std::move(payload_)) {
    std::memset(marker, 'T', sizeof marker);
    fromTimer = true;
}

CPELSignal::CPELSignal(int32_t number_, CFsmBase* sender_, CFsmPayload payload_)
    : CFsmSignal(number_), payload(std::move(payload_)) {
    sender = sender_;
}

CPELSignal::CPELSignal(int32_t number_, CFsmPayload payload_)
    : CPELSignal(number_, nullptr, std::move(payload_)) {}

CPELSignal::CPELSignal(const CPELSignal& other) : CFsmSignal(other), payload(other.payload) {}

CPELSignal::CPELSignal(const CFsmTimeSignal& timer)
    : CFsmSignal(timer.emitNumber), payload(timer.payload) {
    std::memcpy(userData, timer.userData, sizeof userData);
    sender = timer.sender;
    fromTimer = true;
}
