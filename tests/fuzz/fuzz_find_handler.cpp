// The sounder address of a sentence's third field, and the shortened text
// of message 433, against an independent reading: the key exactly when the
// sentence has a comma after "$ZQPEL," and, after it, a ':' or ',' and an
// '_'; type and serial read digit by digit and cut to 16 bits. The input is
// an exact-size buffer, so any read past it is a sanitizer report.
#include <ControlSentences.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Decimal digits from `at`, cut to 16 bits; stops at the first non-digit.
unsigned Digits(const std::string& s, size_t at) {
    unsigned long long v = 0;
    for (size_t i = at; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        v = (v * 10 + static_cast<unsigned>(s[i] - '0')) % 65536;
    return static_cast<unsigned>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view view(reinterpret_cast<const char*>(data), size);
    const std::string s(view);

    const auto key = control_sentences::SounderOfThirdField(view);
    const size_t c = s.size() >= 7 ? s.find(',', 7) : std::string::npos;
    const size_t e = c == std::string::npos ? c : s.find_first_of(":,", c + 1);
    const size_t u = c == std::string::npos ? c : s.find('_', c + 1);
    const bool garbled = c == std::string::npos || e == std::string::npos || u == std::string::npos;
    if (garbled != !key) std::abort();
    if (key && (key->type != Digits(s, c + 1) || key->serial != Digits(s, u + 1))) std::abort();

    const std::string shortened = control_sentences::ShortenedForMessage(view);
    const size_t k = size <= 9 ? 7 : size >= 13 ? 11 : size - 2;
    if (shortened.size() > k + 3 || shortened.size() < 3) std::abort();
    if (shortened.compare(shortened.size() - 3, 3, "...") != 0) std::abort();
    if (shortened.find("//") != std::string::npos) std::abort();
    // Without slashes the text is the sentence's first k characters.
    const std::string head = s.substr(0, k);
    if (head.find('/') == std::string::npos && shortened != head + "...") std::abort();
    return 0;
}
