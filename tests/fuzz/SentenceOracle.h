#pragma once
// The fuzz targets' independent reading of a sentence's number: the second
// comma-separated field (the text ends at the first zero byte) as a decimal
// integer with strtoll, plus 50000. None when the field is missing, is no
// number, leaves the 32-bit range, or the signal would be one of the
// framework's reserved numbers (0 and below).
#include <Fields.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

inline std::optional<int32_t> ExpectedSentenceSignal(const std::string& s) {
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
