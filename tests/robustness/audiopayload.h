// The bytes of a file that no tag operation may change: its audio data, found by the
// container's own structure, with every tag region left out. Used to prove that writing and
// stripping tags leaves the audio alone, on intact and on damaged files alike.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace robustness {

// By the extension (mp3, ape, flac, ogg, m4a, wma):
//   mp3, ape  everything between leading ID3v2 tags and trailing APE / ID3v1 tags;
//   flac      the stream-info block and everything after the metadata blocks (less ID3v1);
//   ogg       every packet but the comment packet (pages may be renumbered, packets not);
//   m4a       the contents of every top-level mdat atom;
//   wma       everything after the header object.
// Nothing when the structure cannot be followed.
std::optional<QByteArray> audioPayload(const QByteArray& file, const QString& extension);

} // namespace robustness
