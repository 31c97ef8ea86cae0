// The sounder type of a remote datagram against an independent reading: the
// digits right after the first '=' (of the text up to its first zero byte),
// cut to 16 bits; none without '='.
#include <ControlSentences.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view view(reinterpret_cast<const char*>(data), size);
    const auto got = control_sentences::RemoteSounderType(view);

    const std::string text(view.substr(0, view.find('\0')));
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        if (got) std::abort();
        return 0;
    }
    unsigned v = 0;
    for (size_t i = equals + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = (v * 10 + static_cast<unsigned>(text[i] - '0')) % 65536;
    if (!got || *got != v) std::abort();
    return 0;
}
