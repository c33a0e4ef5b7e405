#pragma once

#include <QString>

namespace tagora {

// True when `path` is an absolute path naming an existing directory (a symbolic link to
// one counts). Texts that are no absolute path (virtual folders of the folder tree) give
// false, whatever the current directory holds.
bool DirectoryExists(const QString& path);

// True when a file other than a directory exists at `path`.
bool FileExists(const QString& path);

// Makes `path` the process's current directory. Throws EInOutError with the system's error
// code when that fails. The current directory is process-wide: GUI thread only.
void SetCurrentDir(const QString& path);

} // namespace tagora
