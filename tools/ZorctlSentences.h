#pragma once
// The sentences zorctl sends, built from checked operator input. Every
// builder refuses what ZOR would misread (a key out of range, a counter that
// is not a number, text that would split the sentence) with a readable
// reason instead of sending it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorctl {

// "$ZQPEL,<number>,<fields>\n\r": the address, the number, a comma, the
// fields as given and the terminator (line feed, then carriage return).
std::string Sentence(int number, const std::string& fields = "");

// A sounder key "TYPE_SERIAL", both decimal 0..65535 and digits only.
struct SounderKey {
    uint16_t type = 0;
    uint16_t serial = 0;
};
std::optional<SounderKey> ParseKey(const std::string& text, std::string& error);
std::string KeyText(const SounderKey& key);

// The file counter of a logging sentence: 1 to 9 decimal digits (it becomes
// part of a raw-data file name).
bool IsCounter(const std::string& text);

// Start list (13): items "TYPE_SERIAL" or "TYPE_SERIAL;NAME" joined by ":".
std::optional<std::string> StartList(const std::vector<std::string>& items, std::string& error);
// Logging start (20) and stop (21): "KEY:COUNTER,LABEL".
std::string LogStart(const SounderKey& key, const std::string& counter, bool label);
std::string LogStop(const SounderKey& key, const std::string& counter, bool label);
// Stop pinging (22): "KEY:LABEL".
std::string StopPing(const SounderKey& key, bool label);
// Survey change (5): "KEY," (the comma ends the key's field).
std::string SurveyChange(const SounderKey& key);

// The operator's text with "\n", "\r", "\t", "\\" and "\xHH" turned into
// bytes; any other backslash sequence is refused.
std::optional<std::string> Unescape(const std::string& text, std::string& error);

// "HOST:PORT" with a port 1..65535 and a non-empty host.
struct Destination {
    std::string host;
    uint16_t port = 0;
};
std::optional<Destination> ParseDestination(const std::string& text, std::string& error);

// A decimal number within [low, high], digits only.
std::optional<long> ParseNumber(const std::string& text, long low, long high);

}  // namespace zorctl
