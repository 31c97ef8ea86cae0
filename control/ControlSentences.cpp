#include "ControlSentences.h"

#include <Fields.h>

namespace control_sentences {
namespace {

constexpr size_t kAddressLength = 7;  // "$ZQPEL,"
constexpr size_t kStartListHead = 10;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The text up to its first zero byte, as a C string would read it.
std::string_view UpToZero(std::string_view text) {
    const size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

// A whole field as a decimal integer, white space around it allowed.
std::optional<long long> WholeInteger(std::string_view field) {
    size_t pos = 0;
    while (pos < field.size() && IsSpace(field[pos])) ++pos;
    bool negative = false;
    if (pos < field.size() && (field[pos] == '+' || field[pos] == '-')) {
        negative = field[pos] == '-';
        ++pos;
    }
    if (pos == field.size() || !IsDigit(field[pos])) return std::nullopt;
    constexpr long long kCeiling = 1LL << 40;  // far beyond any key, far below overflow
    long long value = 0;
    for (; pos < field.size() && IsDigit(field[pos]); ++pos)
        if (value < kCeiling) value = value * 10 + (field[pos] - '0');
    while (pos < field.size() && IsSpace(field[pos])) ++pos;
    if (pos != field.size()) return std::nullopt;
    return negative ? -value : value;
}

}  // namespace

uint16_t Low16(std::string_view text) {
    unsigned value = 0;
    for (char c : text) {
        if (!IsDigit(c)) break;
        value = (value * 10 + static_cast<unsigned>(c - '0')) & 0xFFFFu;
    }
    return static_cast<uint16_t>(value);
}

std::optional<CSounderKey> SounderOfThirdField(std::string_view s) {
    if (s.size() < kAddressLength) return std::nullopt;
    const size_t c = s.find(',', kAddressLength);
    if (c == std::string_view::npos) return std::nullopt;
    const size_t d = c + 1;
    const size_t e = s.find_first_of(":,", d);
    const size_t u = s.find('_', d);
    if (e == std::string_view::npos || u == std::string_view::npos) return std::nullopt;
    // The serial number reads from after the '_' and stops at the first
    // non-digit, which is the ':' or ',' when the '_' comes before it.
    return CSounderKey{Low16(s.substr(d, u - d)), Low16(s.substr(u + 1))};
}

std::string ShortenedForMessage(std::string_view s) {
    const size_t m = s.size();
    const size_t k = m <= 9 ? 7 : m >= 13 ? 11 : m - 2;
    std::string cut(s.substr(0, k < m ? k : m));
    cut += "...";
    std::string out;
    out.reserve(cut.size());
    for (char c : cut)
        if (!(c == '/' && !out.empty() && out.back() == '/')) out.push_back(c);
    return out;
}

std::optional<std::string> ExternalSvSentence(std::string_view sentence80) {
    std::string_view text = UpToZero(sentence80);
    const size_t end = text.find_first_of("\r\n");
    if (end != std::string_view::npos) text = text.substr(0, end);
    const std::vector<std::string> fields = SplitFields(text, ',');
    auto field = [&](size_t n) { return n <= fields.size() ? fields[n - 1] : std::string(); };
    const std::string a = field(3);
    if (a.empty()) return std::nullopt;
    return "$ZQPEL,43," + a + "," + field(4) + "," + field(5) + ",\r\n";
}

std::optional<uint16_t> RemoteSounderType(std::string_view datagram) {
    const std::string_view text = UpToZero(datagram);
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return Low16(text.substr(equals + 1));
}

std::optional<CKeyFields> KeyFields(std::string_view sentence, size_t typeField) {
    if (typeField == 0) return std::nullopt;
    const std::vector<std::string> fields = SplitFields(sentence, ',');
    if (fields.size() < typeField + 1) return std::nullopt;
    const auto type = WholeInteger(fields[typeField - 1]);
    const auto serial = WholeInteger(fields[typeField]);
    if (!type || !serial) return std::nullopt;
    return CKeyFields{*type, *serial};
}

std::string StartListBody(std::string_view sentence13) {
    const std::string_view text = UpToZero(sentence13);
    if (text.size() < kStartListHead) return std::string();
    return std::string(text.substr(kStartListHead));
}

std::vector<CStartItem> StartListItems(std::string_view list) {
    list = UpToZero(list);
    std::vector<CStartItem> items;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find_first_of(":\r\n", start);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view item = list.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        if (item.size() <= 2) break;
        CStartItem out;
        out.text = std::string(item);
        const size_t underscore = item.find('_');
        out.typeText = std::string(item.substr(0, underscore));
        if (underscore != std::string_view::npos) {
            const std::string_view rest = item.substr(underscore + 1);
            out.serialText = std::string(rest.substr(0, rest.find(';')));
        }
        out.key = CSounderKey{Low16(out.typeText), Low16(out.serialText)};
        items.push_back(std::move(out));
    }
    return items;
}

std::string MakeHandlerTermSentence(uint16_t type, uint16_t serial) {
    return "$ZQPEL,19," + std::to_string(type) + "_" + std::to_string(serial) + "\n\r";
}

}  // namespace control_sentences
