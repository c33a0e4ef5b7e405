#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>

namespace tagora::cli {

// The bytes of pictures that tagora-cli replaced or removed, each kept once under its SHA-256
// (lower-case hex) in the folder "pictures" beside the journal, so that undo can put them back
// byte for byte. Blobs are written and removed only while the journal's lock is held.
namespace pictureblobs {

QByteArray hashOf(const QByteArray& bytes);

// Keeps `bytes` unless a blob of the same hash is there already; false with errno set when it
// could not be written.
bool keep(const QByteArray& bytes);

// The bytes kept under `hash`; false when there is no such blob or it no longer matches.
bool load(const QByteArray& hash, QByteArray& bytes);

// Removes every blob whose hash is not in `referenced`.
void removeAllBut(const QSet<QByteArray>& referenced);

QByteArray folder();

} // namespace pictureblobs
} // namespace tagora::cli
