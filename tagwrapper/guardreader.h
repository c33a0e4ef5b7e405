// Reading the structures the input guards check, straight from the file's bytes. Shared by
// the guards of every tag family.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace tagwrapper {

using Bytes = std::vector<unsigned char>;

// The buffer of a reader's window. The last one given back on a thread is kept for the
// next reader there: a folder listing opens one file after another, and a fresh 16 KB
// block each time made the allocator sort its small free blocks again for every file.
template <std::size_t Size> class WindowBuffer
{
public:
    WindowBuffer() = default;
    ~WindowBuffer()
    {
        if (m_bytes)
            spare() = std::move(m_bytes);
    }
    WindowBuffer(const WindowBuffer&) = delete;
    WindowBuffer& operator=(const WindowBuffer&) = delete;

    char* get()
    {
        if (!m_bytes)
            m_bytes = spare() ? std::move(spare()) : std::make_unique<char[]>(Size);
        return m_bytes.get();
    }

private:
    static std::unique_ptr<char[]>& spare()
    {
        thread_local std::unique_ptr<char[]> kept;
        return kept;
    }

    std::unique_ptr<char[]> m_bytes;
};

// Reads of an open file that never go past what the file holds. The checks read many small numbers
// close to each other (atom headers, ASF attribute records); they are served from one window of the
// file, read once, instead of one system call each.
class Reader
{
public:
    // Bytes read at once for small reads; larger reads go to the file directly.
    static constexpr std::size_t kWindow = 16 * 1024;

    // Reads through a descriptor the caller owns and keeps open.
    explicit Reader(int fd) : m_fd(fd)
    {
        struct stat st;
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)) {
            m_size = static_cast<std::uint64_t>(st.st_size);
            m_ok = true;
        }
    }
    // Reads through `fd`, a regular file of `size` bytes the caller has already looked at.
    Reader(int fd, std::uint64_t size) { reset(fd, size); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Reads another descriptor, or the same one after the file changed; the window is dropped
    // but its buffer kept.
    void reset(int fd, std::uint64_t size)
    {
        m_fd = fd;
        m_size = size;
        m_ok = fd >= 0;
        m_windowSize = 0;
    }

    bool ok() const { return m_ok; }
    std::uint64_t size() const { return m_size; }

    // Exactly `count` bytes at `offset`, or false.
    bool read(std::uint64_t offset, void* buffer, std::size_t count) const
    {
        if (offset > m_size || count > m_size - offset)
            return false;
        if (count == 0)
            return true;
        if (count > kWindow)
            return readFile(offset, buffer, count);
        const char* bytes = view(offset, count);
        if (!bytes)
            return false;
        std::memcpy(buffer, bytes, count);
        return true;
    }

    bool read(std::uint64_t offset, std::size_t count, Bytes& bytes) const
    {
        bytes.resize(count);
        return read(offset, bytes.data(), count);
    }

    // Offset of the first `pattern` at or after `from`, or -1; scans the file a window at a
    // time.
    std::int64_t find(const char* pattern, std::uint64_t from, std::uint64_t limit) const
    {
        const std::size_t n = std::strlen(pattern);
        constexpr std::size_t kChunk = kWindow - 64;
        const std::uint64_t end = std::min(limit, m_size);
        for (std::uint64_t at = from; at < end && end - at >= n; at += kChunk) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(kChunk + n - 1, end - at));
            const char* chunk = view(at, want);
            if (!chunk)
                return -1;
            if (const void* hit = ::memmem(chunk, want, pattern, n))
                return static_cast<std::int64_t>(
                    at + static_cast<std::uint64_t>(static_cast<const char*>(hit) - chunk));
        }
        return -1;
    }

private:
    bool readFile(std::uint64_t offset, void* buffer, std::size_t count) const
    {
        auto* out = static_cast<char*>(buffer);
        while (count > 0) {
            const ssize_t got = ::pread(m_fd, out, count, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += static_cast<std::uint64_t>(got);
            count -= static_cast<std::size_t>(got);
        }
        return true;
    }

    // The `count` (at most kWindow) bytes at `offset` in the window, read into it when they
    // are not there yet; null when the file does not hold them.
    const char* view(std::uint64_t offset, std::size_t count) const
    {
        if (offset > m_size || count > m_size - offset || count > kWindow)
            return nullptr;
        if (offset < m_windowStart || offset + count > m_windowStart + m_windowSize) {
            // Near the end the window ends with the file, so reads moving backwards from
            // there (tags at the end) stay in it too.
            const std::uint64_t start = m_size - offset < kWindow
                                            ? m_size - std::min<std::uint64_t>(m_size, kWindow)
                                            : offset;
            const auto length =
                static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, m_size - start));
            m_windowSize = 0;
            if (!readFile(start, m_window.get(), length))
                return nullptr;
            m_windowStart = start;
            m_windowSize = length;
        }
        return m_window.get() + (offset - m_windowStart);
    }

    int m_fd = -1;
    std::uint64_t m_size = 0;
    bool m_ok = false;
    mutable WindowBuffer<kWindow> m_window;
    mutable std::uint64_t m_windowStart = 0;
    mutable std::uint64_t m_windowSize = 0;
};

inline std::uint32_t bigEndian32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

inline std::uint32_t littleEndian32(const unsigned char* p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 |
           std::uint32_t(p[0]);
}

inline std::uint64_t littleEndian64(const unsigned char* p)
{
    return std::uint64_t(littleEndian32(p + 4)) << 32 | littleEndian32(p);
}

} // namespace tagwrapper
