// What a file is, for a reader: the tags it holds and the audio it carries.
#pragma once

#include <taglib/tstring.h>

namespace TagLib {
class File;
}

namespace tagwrapper {

// The tag types the file holds, in the order TagLib prefers them: "ID3v2.3, APE, ID3v1",
// "Xiph comment", "MP4", "ASF"; empty when it holds none.
TagLib::String tagTypes(TagLib::File& file);

// The codec of the audio stream: "MPEG-1 Layer 3", "Vorbis", "FLAC", "AAC", "WMA 2", ...
TagLib::String codecName(TagLib::File& file);

} // namespace tagwrapper
