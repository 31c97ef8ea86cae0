#include "RawDataPaths.h"

#include <cstdio>
#include <vector>

namespace rawdata {
namespace {

constexpr uint16_t kKnownModels[] = {1101, 1102, 1103, 1104, 1201, 1202, 1203, 1301,
                                     1401, 1501, 1601, 1602, 1604, 1605, 1701, 1702};

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool TokenIs(const std::string& token, const char* name) {
    std::size_t i = 0;
    for (; i < token.size() && name[i] != '\0'; ++i) {
        if (Upper(token[i]) != name[i]) return false;
    }
    return i == token.size() && name[i] == '\0';
}

// The non-empty pieces of `text` between any of the separator characters.
std::vector<std::string> Tokens(const std::string& text, const char* separators) {
    std::vector<std::string> tokens;
    std::string current;
    for (char c : text) {
        bool separator = false;
        for (const char* s = separators; *s != '\0'; ++s) separator = separator || c == *s;
        if (!separator) {
            current += c;
        } else if (!current.empty()) {
            tokens.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) tokens.push_back(std::move(current));
    return tokens;
}

std::string Digits(int value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*d", width, value);
    return text;
}

// The date and time parts, as placeholders or from the clock.
struct TimeParts {
    std::string year, month, day, hour, minute, second;
};

TimeParts MakeTimeParts(uint16_t type, const std::tm* utc) {
    if (IsKnownModel(type)) {
        return {"_TOKYEAR_", "_TOKMONTH_", "_TOKDAY_", "_TOKHOUR_", "_TOKMIN_", "_TOKSEC_"};
    }
    if (utc == nullptr) return {"0000", "00", "00", "00", "00", "00"};
    // Calendar fields far outside their ranges would still fit the buffer.
    return {Digits(utc->tm_year + 1900, 4), Digits(utc->tm_mon + 1, 2), Digits(utc->tm_mday, 2),
            Digits(utc->tm_hour, 2),        Digits(utc->tm_min, 2),     Digits(utc->tm_sec, 2)};
}

std::string VesselText(const std::string& vessel) {
    std::string text = vessel;
    for (char& c : text) {
        if (c == ' ') c = '_';
    }
    return text;
}

// The date element a token names (in folders and file names alike), or
// null.
const std::string* DateElement(const std::string& token, const TimeParts& time) {
    if (TokenIs(token, "YEAR")) return &time.year;
    if (TokenIs(token, "MONTH")) return &time.month;
    if (TokenIs(token, "DAY")) return &time.day;
    return nullptr;
}

// Root and folders, ending in the backslash before the file name.
std::string Folders(const PathSettings& settings, const SounderInfo& sounder,
                    const TimeParts& time) {
    std::string path = settings.root;
    const std::string location = CutTo(settings.locationStructure, kStructureChars);
    for (const std::string& token : Tokens(location, "\\/ ,")) {
        if (TokenIs(token, "SOUNDERTYPE")) {
            path += '\\' + std::to_string(sounder.type);
        } else if (TokenIs(token, "SERIALNUMBER")) {
            path += '\\' + std::to_string(sounder.serial);
        } else if (TokenIs(token, "SURVEYNAME")) {
            path += '\\' + CutTo(sounder.surveyName, kSurveyNameChars);
        } else if (TokenIs(token, "SHIP")) {
            path += '\\' + VesselText(settings.vesselName);
        } else if (const std::string* date = DateElement(token, time)) {
            path += '\\' + *date;
        }
    }
    path += '\\';
    return path;
}

}  // namespace

bool IsKnownModel(uint16_t type) {
    for (uint16_t known : kKnownModels) {
        if (known == type) return true;
    }
    return false;
}

const char* Extension(uint16_t type) {
    return (type == 1801 || type == 1802) ? ".dg" : ".vmall";
}

std::string CutTo(std::string text, std::size_t limit) {
    if (text.size() > limit) text.resize(limit);
    return text;
}

std::string PadCounter(const std::string& counter) {
    if (counter.size() >= 4) return counter;
    return std::string(4 - counter.size(), '0') + counter;
}

std::string NormaliseSeparators(const std::string& path) {
    auto collapse = [](const std::string& in, char c) {
        std::string out;
        out.reserve(in.size());
        for (char x : in) {
            if (x == c && !out.empty() && out.back() == c) continue;
            out += x;
        }
        return out;
    };
    std::string text = collapse(collapse(path, '/'), '\\');
    for (char& c : text) {
        if (c == '\\') c = '/';
    }
    return collapse(text, '/');
}

std::string LogFilePath(const PathSettings& settings, const SounderInfo& sounder,
                        const std::string& counter, const std::tm* utc) {
    const TimeParts time = MakeTimeParts(sounder.type, utc);
    std::string path = Folders(settings, sounder, time);
    const std::string names = CutTo(settings.fileNameStructure, kStructureChars);
    for (const std::string& token : Tokens(names, " ,")) {
        if (TokenIs(token, "_")) {
            path += '_';
        } else if (TokenIs(token, "CNT")) {
            path += PadCounter(counter);
        } else if (const std::string* date = DateElement(token, time)) {
            path += *date;
        } else if (TokenIs(token, "HOUR")) {
            path += time.hour;
        } else if (TokenIs(token, "MIN")) {
            path += time.minute;
        } else if (TokenIs(token, "SEC")) {
            path += time.second;
        } else if (TokenIs(token, "SHIP")) {
            path += VesselText(settings.vesselName);
        }
    }
    path += Extension(sounder.type);
    return NormaliseSeparators(path);
}

std::string StopFilePath(const PathSettings& settings, const SounderInfo& sounder,
                         const std::string& counter, const std::tm* utc) {
    const TimeParts time = MakeTimeParts(sounder.type, utc);
    std::string path = Folders(settings, sounder, time);
    path += PadCounter(counter);
    path += Extension(sounder.type);
    return NormaliseSeparators(path);
}

}  // namespace rawdata
