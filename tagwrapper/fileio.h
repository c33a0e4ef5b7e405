// Whole reads and writes at a position, through interruptions and short counts.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace tagwrapper {

// Reads up to count bytes at `at`; got says how many arrived before the end of the file.
inline bool readAll(int fd, char* buffer, size_t count, off_t at, size_t& got)
{
    got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, buffer + got, count - got, at + off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += size_t(n);
    }
    return true;
}

// pwrite may write less than asked (a full disk, a file-size limit); the rest is retried until
// the system reports the error itself.
inline bool writeAll(int fd, const char* data, size_t count, off_t at)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd, data + done, count - done, at + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace tagwrapper
