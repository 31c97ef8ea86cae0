#include "FileLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

FileLock::~FileLock() {
    Close();
}

FileLock::FileLock(FileLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_error(other.m_error) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_error = other.m_error;
    }
    return *this;
}

bool FileLock::Open(const std::string& path) {
    Close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_error = errno;
        return false;
    }
    m_fd = fd;
    m_error = 0;
    return true;
}

FileLock::Status FileLock::TryLock(long offset, long length) {
    if (m_fd < 0) return Status::NotOpen;
    struct flock range;
    std::memset(&range, 0, sizeof range);
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = offset;
    range.l_len = length;
    // Open-file-description locks: unlike classic record locks they exclude
    // other descriptors of this same process (other threads), and closing an
    // unrelated descriptor of the file does not drop them. They conflict
    // with classic F_SETLK locks held by other processes, so programs using
    // those are excluded as well.
    int rc;
    do {
        rc = ::fcntl(m_fd, F_OFD_SETLK, &range);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) {
        m_error = 0;
        return Status::Locked;
    }
    m_error = errno;
    return (m_error == EAGAIN || m_error == EACCES) ? Status::Busy : Status::Failed;
}

void FileLock::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::string FileLock::LastErrorText() const {
    if (m_error == 0) return std::string();
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be the buffer.
    const char* text = ::strerror_r(m_error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace platform
