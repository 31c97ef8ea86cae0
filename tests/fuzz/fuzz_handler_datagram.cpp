// Datagrams on a handler's own port: the signal number against an
// independent reading with strtoll. Never one of the framework's own
// numbers (0 and below) for a sentence; the unmapped number for anything
// that is no sentence.
#include <Fields.h>
#include <HandlerParsers.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

std::optional<int32_t> Expected(const std::string& s) {
    if (s.compare(0, 6, "$ZQPEL") != 0) return handler_parse::kNotASentence;
    const std::string text = s.substr(0, s.find('\0'));
    const std::vector<std::string> fields = SplitFields(text, ',');
    if (fields.size() < 2) return std::nullopt;
    const char* start = fields[1].c_str();
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE) return std::nullopt;
    if (n < INT32_MIN || n > INT32_MAX) return std::nullopt;
    const long long number = n + 50000;
    if (number <= 0 || number > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65535) return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::optional<int32_t> got = handler_parse::DatagramSignalNumber(bytes, size);
    if (got != Expected(std::string(bytes, size))) std::abort();
    if (got && *got <= 0 && *got != handler_parse::kNotASentence) std::abort();
    return 0;
}
