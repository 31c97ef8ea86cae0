#pragma once
// An advisory byte-range lock on a lock file, shared with the other programs
// of the suite. The lock belongs to the open file, not to the process: two
// FileLock objects in one process exclude each other just as two processes
// do, and closing one does not release the other's lock. Closing the file
// (Close or destruction) releases the lock.

#include <string>

namespace platform {

class FileLock {
  public:
    enum class Status {
        Locked,   // the range is ours until Close
        Busy,     // someone else holds an overlapping range
        NotOpen,  // Open was not called or failed
        Failed    // the lock call failed for another reason (see LastError)
    };

    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates the file, or truncates it, for reading and writing. Closes a
    // file opened before. True on success; on failure LastError() tells why.
    bool Open(const std::string& path);

    // One attempt, without waiting, at an exclusive lock of `length` bytes
    // from `offset`.
    Status TryLock(long offset = 0, long length = 256);

    // Releases the lock (if any) and closes the file.
    void Close();

    bool IsOpen() const { return m_fd >= 0; }
    // errno of the last failed call, 0 when none failed.
    int LastError() const { return m_error; }
    // Readable text of LastError().
    std::string LastErrorText() const;

  private:
    int m_fd = -1;
    int m_error = 0;
};

}  // namespace platform
