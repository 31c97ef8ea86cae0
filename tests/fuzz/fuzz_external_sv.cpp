// Sentence 43 from sentence 80 against an independent reading: the text
// ends at its first zero byte, carriage return or line feed; fields 3, 4
// and 5 of it (missing ones empty) make the sentence when field 3 is not
// empty.
#include <ControlSentences.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view view(reinterpret_cast<const char*>(data), size);
    const auto got = control_sentences::ExternalSvSentence(view);

    std::string text(view);
    text = text.substr(0, text.find_first_of(std::string("\0\r\n", 3)));
    std::vector<std::string> fields(1);
    for (char ch : text) {
        if (ch == ',')
            fields.emplace_back();
        else
            fields.back() += ch;
    }
    auto field = [&](size_t n) { return n <= fields.size() ? fields[n - 1] : std::string(); };
    if (field(3).empty()) {
        if (got) std::abort();
        return 0;
    }
    if (!got || *got != "$ZQPEL,43," + field(3) + "," + field(4) + "," + field(5) + ",\r\n")
        std::abort();
    return 0;
}
