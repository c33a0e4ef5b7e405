// The input guards of each tag family (see inputguards.h for what they refuse and why).
// Each takes the whole file; true when TagLib may parse it.
#pragma once

#include "guardreader.h"

#include <cstdint>

namespace tagwrapper {

// ID3/MPEG
std::uint64_t leadingId3v2Size(const Reader& r);
bool id3v2TagPasses(const Reader& r, std::uint64_t pos);
bool mpegPasses(const Reader& r);
// A type whose parser in TagLib 1.13 trusts nothing in the file.
bool nothingToCheck(const Reader& r);
// Any type: the checks whose signature the content carries.
bool contentPasses(const Reader& r);
// A file of a type whose TagLib class calls a file without the type's signature invalid: the
// type's own check, and the content's when the signature is missing.
bool mp4FilePasses(const Reader& r);
bool oggFilePasses(const Reader& r);
bool asfFilePasses(const Reader& r);
bool flacFilePasses(const Reader& r);
// Xiph (FLAC and Ogg)
bool flacPasses(const Reader& r, std::uint64_t searchFrom);
bool oggPasses(const Reader& r);
// One field of a Vorbis comment: a METADATA_BLOCK_PICTURE whose lengths wrap does not pass.
bool xiphPictureFieldPasses(const unsigned char* field, std::uint64_t length);
// MP4
bool mp4Passes(const Reader& r);
// ASF
extern const unsigned char kAsfHeader[16];
bool asfPasses(const Reader& r);
// RIFF (WAV) and IFF (AIFF): the ID3v2 tags of their chunks.
bool riffPasses(const Reader& r);

} // namespace tagwrapper
