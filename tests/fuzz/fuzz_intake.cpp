// The command-port intake against an independent reading of the rules: a
// signal is posted exactly when the bytes are a well-formed sentence or a
// recognised datagram, with the expected number, the intake's owner as
// sender and exactly the bytes as payload; otherwise nothing is posted. The
// input is an exact-size buffer, so any read past it is a sanitizer report.
#include <CommandIntake.h>
#include <Fields.h>
#include <FsmBase.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "SentenceOracle.h"

namespace {

class CCollect : public CFsmBase {
  public:
    void PutSignal(CPELSignalPtr signal, bool atBack) override {
        if (!atBack) std::abort();
        signals.push_back(std::move(signal));
    }
    std::vector<CPELSignalPtr> signals;
};

// The expected signal number, or none.
std::optional<int32_t> Expected(const std::string& s) {
    if (s.compare(0, 7, "$ZQPEL,") == 0) {
        return ExpectedSentenceSignal(s);
    }
    if (s.empty() || s[0] != '$') return std::nullopt;
    if (s.size() >= 6 && s.compare(2, 4, "TIDE") == 0) return 59100;
    if (s.size() >= 6 && s.compare(3, 3, "APB") == 0) return 58011;
    if (s.size() >= 6 && s.compare(3, 3, "XTE") == 0) return 58012;
    if (s.size() >= 4 && s[3] == 'R') {
        int r = 0;
        for (size_t i = 4; i < 6 && i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
            r = r * 10 + (s[i] - '0');
        for (int listed : {0, 10, 11, 12, 13, 14, 20, 30})
            if (r == listed) return 51100 + r;
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65535) return 0;  // no datagram is longer
    static CCollect owner;
    static CCommandIntake intake(&owner, &owner);
    owner.signals.clear();
    const char* bytes = reinterpret_cast<const char*>(data);
    intake.OnDatagram(bytes, size);

    const std::optional<int32_t> expected = Expected(std::string(bytes, size));
    if (!expected) {
        if (!owner.signals.empty()) std::abort();
        // A report never carries more than 15 datagram bytes.
        const CIntakeVerdict v = CCommandIntake::Classify(bytes, size);
        if (v.kind == CIntakeVerdict::Kind::Signal) std::abort();
        if (v.kind == CIntakeVerdict::Kind::Unknown) {
            const size_t prefix = v.text.find('\n') + 1;
            if (v.text.size() - prefix > 15 || v.text.size() - prefix > size) std::abort();
            if (v.text.compare(prefix, std::string::npos, bytes, v.text.size() - prefix) != 0)
                std::abort();
        }
        return 0;
    }
    if (owner.signals.size() != 1) std::abort();
    const CPELSignal& s = *owner.signals[0];
    if (s.number != *expected || s.sender != &owner) std::abort();
    if (s.payload.length() != static_cast<int32_t>(size)) std::abort();
    if (size > 0 && std::memcmp(s.payload.data(), bytes, size) != 0) std::abort();
    return 0;
}
