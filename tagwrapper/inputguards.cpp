#include "inputguards.h"

#include "familyguards.h"
#include "filekinds.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tagwrapper {

bool nothingToCheck(const Reader&)
{
    return true;
}

namespace {

bool headIs(const Reader& r, std::uint64_t at, const void* signature, std::size_t size)
{
    unsigned char head[16] = {};
    return size <= sizeof head && r.read(at, head, size) && std::memcmp(head, signature, size) == 0;
}

bool hasMp4Signature(const Reader& r)
{
    return headIs(r, 4, "ftyp", 4);
}

bool hasOggSignature(const Reader& r)
{
    return headIs(r, 0, "OggS", 4);
}

bool hasAsfSignature(const Reader& r)
{
    return headIs(r, 0, kAsfHeader, 12);
}

// Where TagLib looks for a FLAC stream when it goes by the content.
bool hasFlacSignature(const Reader& r)
{
    const std::uint64_t id3 = leadingId3v2Size(r);
    return r.find("fLaC", id3, id3 + 1024) >= 0;
}

} // namespace

// TagLib tries one type after another on a file whose extension it does not know, and on one
// whose extension's type finds the file invalid; each check whose signature the content
// carries applies.
bool contentPasses(const Reader& r)
{
    return id3v2TagPasses(r, 0) && (!hasMp4Signature(r) || mp4Passes(r)) &&
           (!hasOggSignature(r) || oggPasses(r)) && (!hasAsfSignature(r) || asfPasses(r)) &&
           (!hasFlacSignature(r) || flacPasses(r, leadingId3v2Size(r)));
}

// TagLib's classes for MP4, Ogg, FLAC and ASF call a file without their signature invalid, and
// TagLib then parses it as whatever its content looks like (an MP4 file named .flac, say).
bool mp4FilePasses(const Reader& r)
{
    return mp4Passes(r) && (hasMp4Signature(r) || contentPasses(r));
}

bool oggFilePasses(const Reader& r)
{
    return oggPasses(r) && (hasOggSignature(r) || contentPasses(r));
}

bool asfFilePasses(const Reader& r)
{
    return asfPasses(r) && (hasAsfSignature(r) || contentPasses(r));
}

bool flacFilePasses(const Reader& r)
{
    return id3v2TagPasses(r, 0) && flacPasses(r, leadingId3v2Size(r)) &&
           (hasFlacSignature(r) || contentPasses(r));
}

bool passesInputGuards(int fd, const char* name)
{
    return passesInputGuards(Reader(fd), name);
}

bool passesInputGuards(int fd, TagLib_File_Type type)
{
    return passesInputGuards(Reader(fd), type);
}

bool passesInputGuards(const Reader& reader, const char* name)
{
    if (!name || !reader.ok())
        return false;
    const FileKind* kind = fileKindOfName(name);
    return kind ? kind->passes(reader) : contentPasses(reader);
}

bool passesInputGuards(const Reader& reader, TagLib_File_Type type)
{
    const FileKind* kind = fileKindOfType(type);
    return reader.ok() && (!kind || kind->passes(reader));
}

} // namespace tagwrapper
