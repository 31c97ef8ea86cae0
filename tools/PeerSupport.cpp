#include "PeerSupport.h"

#include <chrono>
#include <cstdio>

namespace peer {

std::string Escape(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    out += static_cast<char>(c);
                } else {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02x", c);
                    out += hex;
                }
        }
    }
    return out;
}

std::string Unescape(const std::string& text) {
    auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[i + 1];
        if (next == 'n') {
            out += '\n';
            ++i;
        } else if (next == 'r') {
            out += '\r';
            ++i;
        } else if (next == 't') {
            out += '\t';
            ++i;
        } else if (next == '\\') {
            out += '\\';
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && hexValue(text[i + 2]) >= 0 &&
                   hexValue(text[i + 3]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Stamp() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%06lld", static_cast<long long>(us / 1000000),
                  static_cast<long long>(us % 1000000));
    return text;
}

bool Journal::Open(const std::string& path) {
    m_out.open(path, std::ios::out | std::ios::app | std::ios::binary);
    return m_out.is_open();
}

void Journal::Write(const std::string& text) {
    m_out << Stamp() << ' ' << text << '\n';
    m_out.flush();
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint16_t ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) return 0;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= 65535 ? static_cast<uint16_t>(value) : 0;
}

}  // namespace peer
