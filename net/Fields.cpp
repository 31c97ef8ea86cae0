#include "Fields.h"

std::vector<std::string> SplitFields(std::string_view text, char delimiter) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(delimiter, start);
        if (end == std::string_view::npos) {
            fields.emplace_back(text.substr(start));
            break;
        }
        fields.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}
