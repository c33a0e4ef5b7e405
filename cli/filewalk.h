#pragma once

#include "tagwrapper/filestamp.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <sys/types.h>

namespace tagora::cli {

// The identity of the file at `path` (symbolic links followed); false with errno set when
// it cannot be looked at.
bool identityOf(const QByteArray& path, FileIdentity& identity);

// True when `path` names a folder (links followed).
bool isFolder(const QByteArray& path);

// True when the name ends in the extension of a type tagora-cli lists ("tagora/audiotypes.h"),
// ASCII case folded.
bool hasAudioExtension(const QByteArray& path);

// Receives each audio file found, or a path that could not be walked with its reason.
struct WalkVisitor
{
    std::function<void(const QByteArray& path)> file;
    std::function<void(const QByteArray& path, const QByteArray& reason)> failure;
};

// Visits the audio files named by `path`: the file itself, or the audio files of a folder,
// and with `recursive` those of its sub-folders too. A folder's entries are visited in byte
// order, and only one folder's names per level are held at a time, so memory stays flat on
// any tree. A named file without an audio extension is a failure; such files inside a
// folder are passed over. Links to folders are not followed, so a loop cannot trap the walk.
// Copies a save that died left in a folder walked (unlocked) are removed on the way.
void walkAudioFiles(const QByteArray& path, bool recursive, const WalkVisitor& visitor);

// How many audio files walkAudioFiles() would visit under `paths`, for a progress line.
qint64 countAudioFiles(const QList<QByteArray>& paths, bool recursive);

// Writes all of `bytes` to `fd`, going on after an interrupted or short write; false with
// errno set when a write fails.
bool writeAll(int fd, const QByteArray& bytes);

// `path` made absolute against the current folder, with "." parts and doubled slashes
// dropped; ".." is kept, as a link may stand before it.
QByteArray absolutePath(const QByteArray& path);

// The system's message for an errno value.
QByteArray errorText(int error);

} // namespace tagora::cli
