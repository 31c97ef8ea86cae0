// SplitFields against its definition. Input: first byte the delimiter, the
// rest the text. Checked: no field holds the delimiter; the fields joined by
// the delimiter give the text back (plus one delimiter when the text ends in
// one); the count is one per delimiter plus one for a non-empty tail.
#include <Fields.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char delimiter = static_cast<char>(data[0]);
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<std::string> fields = SplitFields(text, delimiter);

    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].find(delimiter) != std::string::npos) std::abort();
        if (i > 0) joined += delimiter;
        joined += fields[i];
    }
    const bool endsInDelimiter = !text.empty() && text.back() == delimiter;
    if (endsInDelimiter) joined += delimiter;
    if (joined != text) std::abort();

    const size_t delimiters = static_cast<size_t>(std::count(text.begin(), text.end(), delimiter));
    const size_t expected = delimiters + ((!text.empty() && !endsInDelimiter) ? 1 : 0);
    if (fields.size() != expected) std::abort();
    return 0;
}
