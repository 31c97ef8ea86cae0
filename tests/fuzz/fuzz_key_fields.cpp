// Type and serial number of sentences 471 (fields 4 and 5) and 473 to 475
// (fields 3 and 4) against an independent reading with strtoll: each field
// must be a whole decimal integer, white space around it allowed. Values
// that fit 16 bits must come back exactly.
#include <ControlSentences.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<long long> Whole(const std::string& field) {
    // strtoll would also accept a sign after white space and skip leading
    // white space; trailing white space is checked by hand.
    if (field.find('\0') != std::string::npos) return std::nullopt;
    const char* start = field.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(start, &end, 10);
    if (end == start) return std::nullopt;
    // strtoll wants a digit after the optional sign.
    for (const char* p = end; *p != '\0'; ++p)
        if (!std::isspace(static_cast<unsigned char>(*p))) return std::nullopt;
    if (errno == ERANGE) return v < 0 ? -(1LL << 40) : (1LL << 40);  // beyond any key
    return v;
}

void Check(const std::string& s, size_t typeField) {
    const auto got = control_sentences::KeyFields(s, typeField);
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < s.size()) {
        const size_t comma = s.find(',', start);
        if (comma == std::string::npos) {
            fields.push_back(s.substr(start));
            break;
        }
        fields.push_back(s.substr(start, comma - start));
        start = comma + 1;
    }
    std::optional<long long> type, serial;
    if (fields.size() >= typeField + 1) {
        type = Whole(fields[typeField - 1]);
        serial = Whole(fields[typeField]);
    }
    if (!type || !serial) {
        if (got) std::abort();
        return;
    }
    if (!got) std::abort();
    auto same = [](long long expected, long long actual) {
        if (expected >= 0 && expected <= 0xFFFF) return actual == expected;
        return actual < 0 || actual > 0xFFFF;  // matches no sounder either way
    };
    if (!same(*type, got->type) || !same(*serial, got->serial)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string s(reinterpret_cast<const char*>(data), size);
    Check(s, 4);
    Check(s, 3);
    return 0;
}
