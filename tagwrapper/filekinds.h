// The types of file each tag family opens, so that a new type is one line in its family: the
// extension TagLib's FileRef picks the type by, the input guard a file of the type must pass
// before TagLib parses it, and, for a type the C interface names, how TagLib's class for it is
// built. Which family then handles an opened file is up to TagFamily::handles.
#pragma once

#include "tagwrapper.h"

namespace TagLib {
class File;
class IOStream;
} // namespace TagLib

namespace tagwrapper {

class Reader;

// No TagLib_File_Type names the kind.
constexpr int kNoFileType = -1;

struct FileKind
{
    const char* extension; // upper case, without the dot
    bool (*passes)(const Reader& file);
    int fileType = kNoFileType;                                  // a TagLib_File_Type
    TagLib::File* (*create)(TagLib::IOStream* stream) = nullptr; // set with fileType
};

// The kind of the extension `path` ends in (ASCII case folded); null when no family opens it,
// and TagLib then goes by the content.
const FileKind* fileKindOfName(const char* path);
// The kind the C interface's `type` opens; null for a value out of the enumeration.
const FileKind* fileKindOfType(TagLib_File_Type type);

} // namespace tagwrapper
