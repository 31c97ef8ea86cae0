// A child for the process layer's tests.
//
//   process_probe --sleep [...]   waits until it is ended by a signal
//   process_probe [words...]      writes what it was started with beside its
//                                 own executable and ends with status 0:
//                                 report.<pid>.args  its argument words,
//                                 report.<pid>.env   its environment,
//                                 each entry ended by a NUL byte.
//
// The report goes beside the executable because a child started without
// ZOR's environment cannot be told where else to write; tests run a copy in
// a folder of their own.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

extern char** environ;

namespace {

bool WriteEntries(const std::string& path, char* const* entries, int count) {
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (int i = 0; (count < 0 || i < count) && entries[i] != nullptr; ++i) {
        const std::size_t length = std::strlen(entries[i]) + 1;  // with its NUL
        ok = ok && ::write(fd, entries[i], length) == static_cast<ssize_t>(length);
    }
    ok = ::close(fd) == 0 && ok;
    return ok && ::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--sleep") == 0) {
        for (;;) ::pause();
    }
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return 2;
    std::string folder(exe, static_cast<std::size_t>(n));
    folder.resize(folder.rfind('/') + 1);
    const std::string base = folder + "report." + std::to_string(::getpid());
    if (!WriteEntries(base + ".args", argv, argc)) return 3;
    if (!WriteEntries(base + ".env", environ, -1)) return 4;
    return 0;
}
