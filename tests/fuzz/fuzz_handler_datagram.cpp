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

#include "SentenceOracle.h"

namespace {

std::optional<int32_t> Expected(const std::string& s) {
    if (s.compare(0, 6, "$ZQPEL") != 0) return handler_parse::kNotASentence;
    return ExpectedSentenceSignal(s);
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
