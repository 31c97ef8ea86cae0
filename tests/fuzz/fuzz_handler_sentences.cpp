// The handler's sentence readers against an independent reading with the C
// library: the counter and label flag of sentences 20 and 21, the flag of
// 22, and the port-closed fields of 87 (read with strtok, as the fields are
// defined). The input is an exact-size buffer, so any read past it is a
// sanitizer report.
#include <HandlerParsers.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int CInt(const char* text, const char* end) {
    const std::string field(text, end);
    errno = 0;
    long long v = std::strtoll(field.c_str(), nullptr, 10);
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    return static_cast<int>(v);
}

const char* TerminatorOrEnd(const char* p) {
    const char* t = std::strstr(p, "\n\r");
    return t != nullptr ? t : p + std::strlen(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65535) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text(bytes.data(), bytes.size());  // c_str() ends at the first zero
    const char* c = text.c_str();

    // Sentences 20 and 21.
    {
        const handler_parse::CounterAndFlag got = handler_parse::ParseCounterAndFlag(bytes);
        const char* colon = std::strchr(c, ':');
        const char* p = colon != nullptr ? colon + 1 : c;
        const char* comma = std::strchr(p, ',');
        std::string counter;
        int flag = 0;
        if (comma != nullptr) {
            counter.assign(p, comma);
            flag = CInt(comma + 1, TerminatorOrEnd(comma + 1));
        } else {
            counter.assign(p, p + std::strcspn(p, "\n\r"));
        }
        if (got.counter != counter || got.labelFlag != flag) std::abort();
        if (got.counter.find(',') != std::string::npos) std::abort();
    }
    // Sentence 22.
    {
        const char* colon = std::strchr(c, ':');
        const char* p = colon != nullptr ? colon + 1 : c;
        if (handler_parse::ParseStopPingFlag(bytes) != CInt(p, TerminatorOrEnd(p))) std::abort();
    }
    // Sentence 87.
    {
        std::vector<char> copy(c, c + std::strlen(c) + 1);
        char* save = nullptr;
        const char* f1 = strtok_r(copy.data(), ",", &save);
        const char* f2 = f1 != nullptr ? strtok_r(nullptr, ",", &save) : nullptr;
        const char* port = f2 != nullptr ? strtok_r(nullptr, ",", &save) : nullptr;
        const char* reason = port != nullptr ? strtok_r(nullptr, ",\n\r", &save) : nullptr;
        const auto got = handler_parse::ParsePortClosed(bytes);
        if (got.has_value() != (port != nullptr)) std::abort();
        if (got) {
            if (got->port != port) std::abort();
            if (got->reason != (reason != nullptr ? reason : "")) std::abort();
        }
    }
    return 0;
}
