// Checks made on a file before and right after TagLib parses it. TagLib 1.13 trusts some
// structures of a file too far, and each of these is refused before it parses them:
//  - MP4: it recurses once per nested atom (tens of thousands overflow the stack), and on
//    save rewrites chunk offset tables by the count they claim (billions of entries written
//    past the atom: the save hangs and the file grows by gigabytes);
//  - FLAC and Ogg: it adds Vorbis comment lengths in 32 bits, so a length that wraps makes
//    it read the block again and again and allocate gigabytes; it adds a picture's lengths
//    the same way, and a save would write the garbage it read in place of the picture;
//  - MPEG and FLAC: it inflates compressed ID3v2 frames without limit (a thousandfold);
//  - ASF: it reads up to 65535 attribute records past the end of the file.
// A file that fails a check counts as unreadable; TagLib never sees it.
#pragma once

#include "tagwrapper.h"

namespace tagwrapper {

// Deepest MP4 atom nesting accepted; real files nest about eight deep.
constexpr int kMaxMp4Depth = 32;
// Most atoms TagLib is asked to build a tree of; a real file holds a few hundred to a few
// thousand (fragmented files the most).
constexpr long kMaxMp4Atoms = 200000;
// Most FLAC metadata blocks accepted; real files have fewer than twenty.
constexpr int kMaxFlacBlocks = 4096;

// True when the file open for reading at `fd` may be parsed by TagLib as the type `name` gives
// (as TagLib's FileRef chooses it: by extension, by content for an unknown extension), or as
// `type`. The descriptor is the one TagLib will read, so the file checked is the file parsed.
// False for anything that is not a regular file. Reads only the structures it checks, with
// pread: the descriptor's offset is left as it was.
class Reader;

bool passesInputGuards(int fd, const char* name);
bool passesInputGuards(int fd, TagLib_File_Type type);
// The same through a reader of the descriptor, whose window the caller reads on from.
bool passesInputGuards(const Reader& reader, const char* name);
bool passesInputGuards(const Reader& reader, TagLib_File_Type type);

} // namespace tagwrapper
