#include "HandlerParsers.h"

#include <Fields.h>

#include <climits>
#include <vector>

namespace handler_parse {
namespace {

std::string_view UpToZero(std::string_view text) {
    const std::size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// The text up to the first "\n\r" (the sentence terminator), or all of it.
std::string_view UpToTerminator(std::string_view text) {
    const std::size_t end = text.find("\n\r");
    return end == std::string_view::npos ? text : text.substr(0, end);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads like a C tokenizer that skips leading delimiters: the next
// non-empty run of characters outside `delimiters`, starting at `pos`.
std::optional<std::string_view> NextToken(std::string_view text, std::size_t& pos,
                                          std::string_view delimiters) {
    while (pos < text.size() && delimiters.find(text[pos]) != std::string_view::npos) ++pos;
    if (pos >= text.size()) return std::nullopt;
    const std::size_t start = pos;
    while (pos < text.size() && delimiters.find(text[pos]) == std::string_view::npos) ++pos;
    std::string_view token = text.substr(start, pos - start);
    if (pos < text.size()) ++pos;  // the delimiter that ended the token
    return token;
}

// Leading blanks, an optional sign, the longest run of digits. The value
// stops growing just past the range of int, so any number of digits is
// safe; `digits` tells whether there was at least one.
long long ReadDecimal(std::string_view text, bool& digits) {
    std::size_t pos = 0;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    digits = pos < text.size() && text[pos] >= '0' && text[pos] <= '9';
    long long value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[pos] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

int ReadInt(std::string_view text) {
    bool digits = false;
    const long long value = ReadDecimal(text, digits);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

CounterAndFlag ParseCounterAndFlag(std::string_view payload) {
    std::string_view text = UpToZero(payload);
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) text.remove_prefix(colon + 1);
    CounterAndFlag result;
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) {
        // A counter never carries the line break into the file name.
        const std::size_t end = text.find_first_of("\n\r");
        result.counter = std::string(text.substr(0, end));
        return result;
    }
    result.counter = std::string(text.substr(0, comma));
    result.labelFlag = ReadInt(UpToTerminator(text.substr(comma + 1)));
    return result;
}

int ParseStopPingFlag(std::string_view payload) {
    std::string_view text = UpToZero(payload);
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) text.remove_prefix(colon + 1);
    return ReadInt(UpToTerminator(text));
}

std::optional<PortClosed> ParsePortClosed(std::string_view payload) {
    const std::string_view text = UpToZero(payload);
    std::size_t pos = 0;
    if (!NextToken(text, pos, ",") || !NextToken(text, pos, ",")) return std::nullopt;
    const std::optional<std::string_view> port = NextToken(text, pos, ",");
    if (!port) return std::nullopt;
    PortClosed result;
    result.port = std::string(*port);
    if (const std::optional<std::string_view> reason = NextToken(text, pos, ",\n\r"))
        result.reason = std::string(*reason);
    return result;
}

std::optional<int32_t> DatagramSignalNumber(const char* bytes, std::size_t count) {
    if (bytes == nullptr || count < 6) return kNotASentence;
    const std::string_view all(bytes, count);
    if (all.compare(0, 6, "$ZQPEL") != 0) return kNotASentence;
    const std::vector<std::string> fields = SplitFields(UpToZero(all), ',');
    if (fields.size() < 2) return std::nullopt;
    bool digits = false;
    const long long value = ReadDecimal(fields[1], digits);
    if (!digits || value > INT_MAX || value < INT_MIN) return std::nullopt;
    const long long number = value + 50000;
    // 0 and below are the framework's own numbers (wake-up, timer, ...).
    if (number <= 0 || number > INT_MAX) return std::nullopt;
    return static_cast<int32_t>(number);
}

}  // namespace handler_parse
