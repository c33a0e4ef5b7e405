#pragma once

#include "tagwrapper/filestamp.h"

#include <QString>

#include <cstdint>

namespace tagora {

// Which file a path names and in what state: its identity (device, inode, size, modification
// time to the nanosecond), as the library's save and tagora-cli compare it, and its change time.
// Another program's save changes at least one of them: a program can set the modification
// time back, but the change time is the kernel's own.
struct FileStamp
{
    bool exists = false;
    FileIdentity identity;
    std::int64_t changedNs = 0;

    bool operator==(const FileStamp& other) const;
    bool operator!=(const FileStamp& other) const { return !(*this == other); }
    // True when both stamps are of one existing file (or folder), whatever its state.
    bool isSameFileAs(const FileStamp& other) const;
};

// The stamp of the file at `path` now (links followed); `exists` false when there is none.
FileStamp fileStampOf(const QString& path);

} // namespace tagora
