#include "Messages.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "DBoperations.h"

// ---- time ---------------------------------------------------------------

namespace {

constexpr long long kMillisPerDay = 86400000LL;

long long FloorDiv(long long a, long long b) {
    const long long q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Days since 1970-01-01 to the proleptic Gregorian date (H. Hinnant's
// civil_from_days).
void CivilFromDays(long long z, long long& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

MessageTime MessageTime::FromUtc(std::chrono::system_clock::time_point when) {
    // floor, not a cast: before 1970 the millisecond part stays 0 to 999.
    const long long ms =
        std::chrono::floor<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const long long days = FloorDiv(ms, kMillisPerDay);
    const long long ofDay = ms - days * kMillisPerDay;
    long long year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    const long long seconds = ofDay / 1000;
    MessageTime t;
    t.dateYYYYMMDD = static_cast<int>(year * 10000 + month * 100 + day);
    t.timeHHMMSS =
        static_cast<int>(seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60);
    t.millis = static_cast<int>(ofDay % 1000);
    return t;
}

CMessageClock& CMessageClock::system() {
    static CMessageClock clock;
    return clock;
}

// ---- safe formatting ------------------------------------------------------

namespace {

// Widths and precisions beyond this give the same first kMaxTextChars
// characters as the value asked for, so they are clamped to keep a text
// such as "%999999999d" cheap.
constexpr int kClamp = 4096;

enum class Length { None, Char, Short, Long, LongDouble };

struct Conversion {
    std::string flags;
    int starCount = 0;  // '*' for width and/or precision
    bool widthStar = false, precisionStar = false;
    int width = -1;      // -1: none
    int precision = -1;  // -1: none
    bool hasPrecision = false;
    Length length = Length::None;
    char conversion = 0;
    std::size_t end = 0;  // index just past the conversion character
};

int ReadNumber(std::string_view text, std::size_t& i) {
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = std::min<long long>(value * 10 + (text[i] - '0'), kClamp);
        ++i;
    }
    return static_cast<int>(value);
}

// Parses the conversion that starts at text[start] == '%'. Nothing for
// anything printf would not read as one conversion of the supported set
// (positional "%1$d", unknown characters, "%m", a text that ends early).
std::optional<Conversion> Parse(std::string_view text, std::size_t start) {
    Conversion c;
    std::size_t i = start + 1;
    while (i < text.size() && std::string_view("-+ #0'").find(text[i]) != std::string_view::npos) {
        c.flags += text[i++];
    }
    if (i < text.size() && text[i] == '*') {
        c.widthStar = true;
        ++c.starCount;
        ++i;
    } else if (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        c.width = ReadNumber(text, i);
    }
    if (i < text.size() && text[i] == '$') return std::nullopt;  // positional
    if (i < text.size() && text[i] == '.') {
        ++i;
        c.hasPrecision = true;
        if (i < text.size() && text[i] == '*') {
            c.precisionStar = true;
            ++c.starCount;
            ++i;
        } else {
            c.precision = ReadNumber(text, i);  // "." alone means 0
        }
    }
    auto at = [&](std::size_t k) { return k < text.size() ? text[k] : '\0'; };
    switch (at(i)) {
        case 'h':
            c.length = at(i + 1) == 'h' ? Length::Char : Length::Short;
            i += at(i + 1) == 'h' ? 2 : 1;
            break;
        case 'l':
            c.length = Length::Long;
            i += at(i + 1) == 'l' ? 2 : 1;
            break;
        case 'q':
        case 'j':
        case 'z':
        case 'Z':
        case 't':
            c.length = Length::Long;
            ++i;
            break;
        case 'L':
            c.length = Length::LongDouble;
            ++i;
            break;
        default:
            break;
    }
    const char conversion = at(i);
    if (conversion == '\0' ||
        std::string_view("diouxXcsfFeEgGaApn").find(conversion) == std::string_view::npos) {
        return std::nullopt;
    }
    c.conversion = conversion;
    c.end = i + 1;
    return c;
}

// The conversion rebuilt from checked parts only, with a length modifier of
// our choosing and no '*'.
std::string Directive(const Conversion& c, int width, int precision, bool leftFromStar,
                      const char* length) {
    std::string directive = "%" + c.flags;
    if (leftFromStar) directive += '-';
    if (width >= 0) directive += std::to_string(width);
    if (precision >= 0) directive += "." + std::to_string(precision);
    directive += length;
    directive += c.conversion;
    return directive;
}

template <class T>
void Append(std::string& out, const std::string& directive, T value) {
    char small[256];
    const int n = std::snprintf(small, sizeof small, directive.c_str(), value);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.append(small, static_cast<std::size_t>(n));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), directive.c_str(), value);
    out.append(big.data(), static_cast<std::size_t>(n));
}

// Expands one conversion with its value; false when the value does not fit
// the conversion (the caller then leaves the conversion as it stands).
bool Expand(std::string& out, const Conversion& c, const CMessageValue* stars[2],
            const CMessageValue& value) {
    int width = c.width;
    int precision = c.hasPrecision ? c.precision : -1;
    bool leftFromStar = false;
    int star = 0;
    if (c.widthStar) {
        if (stars[star]->kind() != CMessageValue::Kind::Integer) return false;
        const int w = static_cast<int>(stars[star++]->bits());
        leftFromStar = w < 0;
        // Negate in long long: -INT_MIN does not fit an int.
        width =
            static_cast<int>(std::min<long long>(w < 0 ? -static_cast<long long>(w) : w, kClamp));
    }
    if (c.precisionStar) {
        if (stars[star]->kind() != CMessageValue::Kind::Integer) return false;
        const int p = static_cast<int>(stars[star++]->bits());
        precision = p < 0 ? -1 : std::min(p, kClamp);  // negative: as if none
    }

    const unsigned long long bits = value.bits();
    switch (c.conversion) {
        case 'd':
        case 'i': {
            if (value.kind() != CMessageValue::Kind::Integer || c.length == Length::LongDouble)
                return false;
            long long v = 0;
            switch (c.length) {
                case Length::Char:
                    v = static_cast<signed char>(bits);
                    break;
                case Length::Short:
                    v = static_cast<short>(bits);
                    break;
                case Length::None:
                    v = static_cast<int>(bits);
                    break;
                default:
                    v = static_cast<long long>(bits);
                    break;
            }
            Append(out, Directive(c, width, precision, leftFromStar, "ll"), v);
            return true;
        }
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
            if (value.kind() != CMessageValue::Kind::Integer || c.length == Length::LongDouble)
                return false;
            unsigned long long v = 0;
            switch (c.length) {
                case Length::Char:
                    v = static_cast<unsigned char>(bits);
                    break;
                case Length::Short:
                    v = static_cast<unsigned short>(bits);
                    break;
                case Length::None:
                    v = static_cast<unsigned int>(bits);
                    break;
                default:
                    v = bits;
                    break;
            }
            Append(out, Directive(c, width, precision, leftFromStar, "ll"), v);
            return true;
        }
        case 'c':
            // "%lc" wants a wide character: not something a caller gives.
            if (value.kind() != CMessageValue::Kind::Integer || c.length != Length::None)
                return false;
            Append(out, Directive(c, width, -1, leftFromStar, ""),
                   static_cast<int>(static_cast<unsigned char>(bits)));
            return true;
        case 's':
            // "%ls" wants a wide string.
            if (value.kind() != CMessageValue::Kind::Text || c.length != Length::None) return false;
            Append(out, Directive(c, width, precision, leftFromStar, ""), value.text().c_str());
            return true;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (value.kind() != CMessageValue::Kind::Floating || c.length == Length::Char ||
                c.length == Length::Short)
                return false;
            Append(out, Directive(c, width, precision, leftFromStar, ""), value.floating());
            return true;
        default:  // n, p: never expanded
            return false;
    }
}

}  // namespace

std::string FormatMessageText(std::string_view text, const CMessageValues& values,
                              std::size_t maxChars) {
    std::string out;
    std::size_t next = 0;  // next value to take
    std::size_t i = 0;
    while (i < text.size() && out.size() < maxChars) {
        const std::size_t percent = text.find('%', i);
        if (percent == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, percent - i));
        if (percent + 1 < text.size() && text[percent + 1] == '%') {
            out += '%';
            i = percent + 2;
            continue;
        }
        const std::optional<Conversion> c = Parse(text, percent);
        if (!c) {
            // Not a conversion: the '%' is plain text, and so is what follows.
            out += '%';
            i = percent + 1;
            continue;
        }
        // The conversion takes its values by position whether or not it is
        // expanded, so the conversions after it keep theirs.
        const std::size_t first = next;
        next += static_cast<std::size_t>(c->starCount) + 1;
        bool expanded = false;
        if (next <= values.size()) {
            const CMessageValue* stars[2] = {nullptr, nullptr};
            for (int s = 0; s < c->starCount; ++s) stars[s] = &values[first + s];
            expanded = Expand(out, *c, stars, values[first + c->starCount]);
        }
        if (!expanded) out.append(text.substr(percent, c->end - percent));
        i = c->end;
    }
    const std::size_t zero = out.find('\0');
    if (zero != std::string::npos) out.resize(zero);
    if (out.size() > maxChars) out.resize(maxChars);
    return out;
}

// ---- catalogue ------------------------------------------------------------

CMessages::CMessages(CMessageClock& clock) : m_clock(&clock) {}

CMessages::~CMessages() = default;

void CMessages::attachTarget(CFsmBase* /*target*/) {}

void CMessages::notifyNewMessage() {}

void CMessages::setDbOperations(CDBoperations* db) {
    m_db = db;
}

void CMessages::initCatalogue() {
    m_language = kReportLanguage;
}

const std::string* CMessages::Text(int number) {
    const auto cached = m_texts.find(number);
    if (cached != m_texts.end()) return &cached->second;
    std::optional<std::string> text = m_db->getMessageText(number, m_language);
    if (!text) return nullptr;
    return &m_texts.emplace(number, std::move(*text)).first->second;
}

void CMessages::reportMessageValues(int number, const CMessageValues& values) noexcept {
    try {
        if (m_db == nullptr) return;
        const MessageTime t = MessageTime::FromUtc(m_clock->now());
        const std::string* text = Text(number);
        const std::string formatted =
            text != nullptr ? FormatMessageText(*text, values, kMaxTextChars) : std::string();
        const int stamp = m_db->insertArrivedMessage(t.dateYYYYMMDD, t.timeHHMMSS, t.millis, number,
                                                     formatted, false);
        if (stamp == 0) return;  // a suppressed repeat
        m_db->insertArrivedMessageString(t.dateYYYYMMDD, stamp, m_language, formatted);
        notifyNewMessage();
    } catch (...) {
        // Reporting never fails towards the job that reports.
    }
}

void CMessages::reportNumber(int number) noexcept {
    try {
        if (m_db == nullptr) return;
        const MessageTime t = MessageTime::FromUtc(m_clock->now());
        if (m_db->insertArrivedMessage(t.dateYYYYMMDD, t.timeHHMMSS, t.millis, number, " ", true) !=
            0) {
            notifyNewMessage();
        }
    } catch (...) {
        // Reporting never fails towards the job that reports.
    }
}
