// An ID3v2.3 or 2.4 tag written back frame by frame: TagLib re-renders every frame it parsed, and
// in a 2.3 tag it drops the frames it cannot carry into 2.4 (TDAT, TIME, RVAD, EQUA...), rewrites
// dates and genres in Latin-1, and loses whatever follows a frame it could not read. Here a frame
// the edit did not touch keeps its bytes as stored, and only the edited frames are rendered.
#pragma once

#include <taglib/tbytevector.h>
#include <taglib/tstring.h>

namespace TagLib {
class File;
namespace ID3v2 {
class Tag;
} // namespace ID3v2
} // namespace TagLib

namespace tagwrapper {

// The complete tag (header, frames, padding) that replaces the one stored at `at` in `file` (its
// start, or the data of a WAV or AIFF file's chunk), which `edited` was parsed from; empty when no
// frame is left. Frames of `edited` that still render as they did when parsed are copied from the
// file, so are frames TagLib could not read, and anything after the last frame that is not padding;
// the others are rendered in the stored tag's version (a date as TYER, TDAT and TIME in 2.3). False
// when the stored tag has a layout copying cannot keep (unsynchronised as a whole, an extended
// header, a footer, another version than 2.3 or 2.4); TagLib then renders the whole tag. TagLib
// stops reading a tag at the first frame it cannot read (one of size 0, say), although other
// programs read on. Adds the frames after it that read on their own to `tag`, which was parsed from
// the start of `file`.
void readFramesAfterStop(TagLib::File& file, TagLib::ID3v2::Tag& tag);

bool renderKeepingStoredFrames(TagLib::File& file, const TagLib::ID3v2::Tag& edited,
                               TagLib::ByteVector& tag, long at = 0);

// The IDs of the frames of `tag` that an ID3v2 tag of `version` (3 or 4) cannot hold, each
// once, joined by ", ": 2.4's ASPI, EQU2, RVA2, SEEK, SIGN, TDRL, TDTG, TMOO, TPRO, TSOA, TSOT
// and TSST in 2.3; 2.3's EQUA, RVAD, TRDA and TSIZ in 2.4 (TDAT and TIME join the date).
TagLib::String framesLostIn(const TagLib::ID3v2::Tag& tag, int version);
// Removes those frames from `tag`.
void dropFramesLostIn(TagLib::ID3v2::Tag& tag, int version);

} // namespace tagwrapper
