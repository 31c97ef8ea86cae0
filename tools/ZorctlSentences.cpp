#include "ZorctlSentences.h"

#include <PeerSupport.h>

namespace zorctl {

namespace {

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::string Logging(const SounderKey& key, const std::string& counter, bool label) {
    return KeyText(key) + ":" + counter + "," + (label ? "1" : "0");
}

}  // namespace

std::string Sentence(int number, const std::string& fields) {
    return "$ZQPEL," + std::to_string(number) + "," + fields + "\n\r";
}

std::optional<long> ParseNumber(const std::string& text, long low, long high) {
    // Ten digits already exceed every range used here; longer text would
    // overflow the sum.
    if (!AllDigits(text) || text.size() > 10) return std::nullopt;
    long value = 0;
    for (char c : text) value = value * 10 + (c - '0');
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<SounderKey> ParseKey(const std::string& text, std::string& error) {
    const size_t underscore = text.find('_');
    const auto type = underscore == std::string::npos
                          ? std::nullopt
                          : ParseNumber(text.substr(0, underscore), 0, 65535);
    const auto serial = underscore == std::string::npos
                            ? std::nullopt
                            : ParseNumber(text.substr(underscore + 1), 0, 65535);
    if (!type || !serial) {
        error = "bad sounder key '" + peer::Escape(text) +
                "': expected TYPE_SERIAL, both decimal 0..65535 (for example 1302_221)";
        return std::nullopt;
    }
    return SounderKey{static_cast<uint16_t>(*type), static_cast<uint16_t>(*serial)};
}

std::string KeyText(const SounderKey& key) {
    return std::to_string(key.type) + "_" + std::to_string(key.serial);
}

bool IsCounter(const std::string& text) {
    return AllDigits(text) && text.size() <= 9;
}

std::optional<std::string> StartList(const std::vector<std::string>& items, std::string& error) {
    if (items.empty()) {
        error = "the start list needs at least one sounder key";
        return std::nullopt;
    }
    std::string list;
    for (const std::string& item : items) {
        const size_t semicolon = item.find(';');
        const std::string key = item.substr(0, semicolon);
        const auto parsed = ParseKey(key, error);
        if (!parsed) return std::nullopt;
        // The name after ";" is carried, not read; it must not contain what
        // separates items or ends the sentence.
        const std::string name = semicolon == std::string::npos ? "" : item.substr(semicolon);
        for (unsigned char c : name) {
            if (c < 0x20 || c >= 0x7f || c == ':' || c == ',') {
                error = "bad start-list item '" + peer::Escape(item) +
                        "': the name after ';' must be printable, without ':' or ','";
                return std::nullopt;
            }
        }
        if (!list.empty()) list += ":";
        // The key is written as ZOR reads it back (no leading zeros).
        list += KeyText(*parsed) + name;
    }
    return Sentence(13, list);
}

std::string LogStart(const SounderKey& key, const std::string& counter, bool label) {
    return Sentence(20, Logging(key, counter, label));
}

std::string LogStop(const SounderKey& key, const std::string& counter, bool label) {
    return Sentence(21, Logging(key, counter, label));
}

std::string StopPing(const SounderKey& key, bool label) {
    return Sentence(22, KeyText(key) + ":" + (label ? "1" : "0"));
}

std::string SurveyChange(const SounderKey& key) {
    return Sentence(5, KeyText(key) + ",");
}

std::optional<std::string> Unescape(const std::string& text, std::string& error) {
    auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    // Check every sequence first; the conversion itself is the peers' one,
    // so zorctl writes exactly what their journals read back.
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') continue;
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (next == 'n' || next == 'r' || next == 't' || next == '\\') {
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && isHex(text[i + 2]) && isHex(text[i + 3])) {
            i += 3;
        } else {
            error =
                "bad escape at position " + std::to_string(i) + " (known: \\n \\r \\t \\\\ \\xHH)";
            return std::nullopt;
        }
    }
    return peer::Unescape(text);
}

std::optional<Destination> ParseDestination(const std::string& text, std::string& error) {
    const size_t colon = text.rfind(':');
    const auto port =
        colon == std::string::npos ? std::nullopt : ParseNumber(text.substr(colon + 1), 1, 65535);
    if (colon == 0 || !port) {
        error = "bad destination '" + peer::Escape(text) + "': expected HOST:PORT";
        return std::nullopt;
    }
    return Destination{text.substr(0, colon), static_cast<uint16_t>(*port)};
}

}  // namespace zorctl
