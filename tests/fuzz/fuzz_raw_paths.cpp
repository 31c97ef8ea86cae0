// Raw-data paths from hostile settings: any bytes in the root, the
// structures, the vessel and survey names and the counter. The result
// always ends in the type's extension and holds no backslash and no run of
// slashes.
#include <RawDataPaths.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 20000) return 0;
    uint16_t type = 0;
    std::memcpy(&type, data, 2);
    const bool stop = (data[2] & 1) != 0;
    // Six fields separated by 0x01 bytes.
    std::vector<std::string> f(1);
    for (size_t i = 3; i < size; ++i) {
        if (data[i] == 1 && f.size() < 6) {
            f.emplace_back();
        } else {
            f.back() += static_cast<char>(data[i]);
        }
    }
    f.resize(6);
    const rawdata::PathSettings settings{f[0], f[1], f[2], f[3]};
    const rawdata::SounderInfo sounder{type, static_cast<uint16_t>(size), f[4]};
    std::tm clock{};
    clock.tm_year = static_cast<int>(data[2]) * 1000000;  // far outside the usual range
    clock.tm_mday = -static_cast<int>(size);
    const std::string path = stop ? rawdata::StopFilePath(settings, sounder, f[5], &clock)
                                  : rawdata::LogFilePath(settings, sounder, f[5], &clock);
    const std::string ext = rawdata::Extension(type);
    if (path.size() < ext.size() || path.compare(path.size() - ext.size(), ext.size(), ext) != 0)
        std::abort();
    if (path.find('\\') != std::string::npos || path.find("//") != std::string::npos) std::abort();
    return 0;
}
