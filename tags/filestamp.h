#pragma once

#include <QString>

#include <cstdint>

namespace tagora {

// Which file a path names and in what state: its device, inode, size, modification time and
// change time (to the nanosecond). Another program's save changes at least one of them: a
// program can set the modification time back, but the change time is the kernel's own.
struct FileStamp
{
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    long changedNanoseconds = 0;

    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
    // True when both stamps are of one existing file (or folder), whatever its state.
    bool isSameFileAs(const FileStamp& other) const;
};

// The stamp of the file at `path` now (links followed); `exists` false when there is none.
FileStamp fileStampOf(const QString& path);

} // namespace tagora
