#pragma once
// Signals: the only thing that drives a state machine. A signal has exactly
// one holder at a time (a queue, the job handling it, the timer list), and
// that is expressed in the types: signals travel as std::unique_ptr, and a
// signal owns its payload, so whoever ends a signal's life releases both.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

class CFsmBase;

// Reserved signal numbers.
enum : int32_t {
    FSM_SIG_WAKEUP = -1,    // "_TIMEHANDL": wakes the worker, never dispatched
    FSM_SIG_TIMEOUT = -2,   // "_TIMEOUT": number of every timer record
    FSM_SIG_UNKNOWN = -99,  // "_UNKNOWN": a datagram that maps to no signal
    FSM_SIG_END = 0,        // "END_OF_TABLE": ends the signal name table
};

// The bytes a signal carries (usually a received sentence, stored exactly
// as received and not terminated). Owns its buffer; the length is never
// negative and is 0 exactly when there is no buffer.
class CFsmPayload {
  public:
    CFsmPayload() = default;
    // Takes over a heap buffer of exactly `length` bytes.
    CFsmPayload(std::unique_ptr<char[]> bytes, int32_t length);
    // A private copy of `length` bytes; empty for a length of 0 or less or
    // for null bytes.
    static CFsmPayload Copy(const void* bytes, int32_t length);
    static CFsmPayload Copy(std::string_view text);

    CFsmPayload(CFsmPayload&&) noexcept = default;
    CFsmPayload& operator=(CFsmPayload&&) noexcept = default;
    CFsmPayload(const CFsmPayload& other) : CFsmPayload(Copy(other.data(), other.length())) {}
    CFsmPayload& operator=(const CFsmPayload& other) {
        if (this != &other) *this = Copy(other.data(), other.length());
        return *this;
    }

    const char* data() const { return m_bytes.get(); }
    char* data() { return m_bytes.get(); }
    int32_t length() const { return m_length; }
    bool empty() const { return m_length == 0; }
    std::string_view view() const {
        return m_bytes ? std::string_view(m_bytes.get(), static_cast<size_t>(m_length))
                       : std::string_view();
    }
    // Releases the bytes now rather than with the signal.
    void reset() {
        m_bytes.reset();
        m_length = 0;
    }

  private:
    std::unique_ptr<char[]> m_bytes;
    int32_t m_length = 0;
};

class CFsmSignal {
  public:
    static constexpr size_t kUserDataSize = 100;
    static constexpr size_t kMarkerSize = 10;

    explicit CFsmSignal(int32_t number);
    virtual ~CFsmSignal() = default;

    int32_t GetSignalNo() const { return number; }

    // Small values a sender leaves for the receiving job, in 8-byte words.
    void SetUserWord(size_t index, uint64_t value) {
        if (index < kUserDataSize / 8) std::memcpy(userData + index * 8, &value, 8);
    }
    uint64_t GetUserWord(size_t index) const {
        uint64_t value = 0;
        if (index < kUserDataSize / 8) std::memcpy(&value, userData + index * 8, 8);
        return value;
    }

    alignas(8) unsigned char userData[kUserDataSize];
    char marker[kMarkerSize];
    int32_t number;
    CFsmBase* sender = nullptr;
    bool fromTimer = false;

  protected:
    CFsmSignal(const CFsmSignal&) = default;
    CFsmSignal& operator=(const CFsmSignal&) = default;
};

// A pending timer as kept in a machine's timer list; never dispatched.
class CFsmTimeSignal : public CFsmSignal {
  public:
    CFsmTimeSignal(int32_t number, int32_t emitNumber, int32_t remainingMs, CFsmPayload payload);

    int32_t emitNumber;
    int32_t remaining;
    CFsmPayload payload;
};

// The signal that travels through queues and reaches jobs.
class CPELSignal : public CFsmSignal {
  public:
    CPELSignal(int32_t number, CFsmBase* sender, CFsmPayload payload = {});
    explicit CPELSignal(int32_t number, CFsmPayload payload = {});
    // An independent copy (its own payload buffer): used when one received
    // signal goes to several machines.
    CPELSignal(const CPELSignal& other);
    // The expiry signal of a timer: the timer's emit number, its user data
    // and sender, a private copy of its payload, from-timer set.
    explicit CPELSignal(const CFsmTimeSignal& timer);

    CPELSignal& operator=(const CPELSignal&) = delete;

    CFsmPayload payload;
};

using CPELSignalPtr = std::unique_ptr<CPELSignal>;
