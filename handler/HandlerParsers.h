#pragma once
// Readers of the bytes that reach a sounder handler: the logging sentences,
// the port-closed report and the datagrams of the handler's own port. Every
// input is untrusted: any length, any bytes; reads stay inside the given
// bytes and numbers saturate instead of overflowing. Text ends at the first
// zero byte, as it would for the sentence read as a C text.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace handler_parse {

// A decimal integer the C way: leading blanks, an optional sign, the
// longest run of digits; anything else reads as 0. Saturates at the limits
// of int.
int ReadInt(std::string_view text);

// Sentences 20 and 21: the counter text after the first colon up to the
// next comma, and the label flag after that comma up to the line break.
// Without a colon the counter starts at the first character; without a
// comma the flag is 0 and the counter ends at the line break.
struct CounterAndFlag {
    std::string counter;
    int labelFlag = 0;
};
CounterAndFlag ParseCounterAndFlag(std::string_view payload);

// Sentence 22: the label flag after the first colon.
int ParseStopPingFlag(std::string_view payload);

// Sentence 87 ("$ZQPEL,87,<port>[,<reason>]"): the fields split at commas
// with empty fields skipped; the third is the port text P (as the last field
// it keeps its line break), the fourth, ending at a comma or line break, the
// reason Q. No P: nothing to report.
struct PortClosed {
    std::string port;
    std::string reason;  // empty: report without a reason
};
std::optional<PortClosed> ParsePortClosed(std::string_view payload);

// Signal number of a datagram that arrives on a handler's port: 50000 + n
// for "$ZQPEL,n,...", kNotASentence for bytes that do not begin with
// "$ZQPEL", empty (drop) for a sentence number that is missing, not a
// number, or would give one of the framework's own numbers (0 and below).
constexpr int32_t kNotASentence = -99;
std::optional<int32_t> DatagramSignalNumber(const char* bytes, std::size_t count);

}  // namespace handler_parse
