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

// TagLib tries one type after another on a file whose extension it does not know, and on one
// whose extension's type finds the file invalid; each check whose signature the content
// carries applies.
bool contentPasses(const Reader& r)
{
    if (!id3v2TagPasses(r, 0))
        return false;
    unsigned char head[12] = {};
    r.read(0, head, std::min<std::uint64_t>(sizeof head, r.size()));
    if (std::memcmp(head + 4, "ftyp", 4) == 0 && !mp4Passes(r))
        return false;
    if (std::memcmp(head, "OggS", 4) == 0 && !oggPasses(r))
        return false;
    if (std::memcmp(head, kAsfHeader, 12) == 0 && !asfPasses(r))
        return false;
    const std::uint64_t id3 = leadingId3v2Size(r);
    if (r.find("fLaC", id3, id3 + 1024) >= 0 && !flacPasses(r, id3))
        return false;
    return true;
}

bool passesInputGuards(int fd, const char* name)
{
    const Reader reader(fd);
    if (!name || !reader.ok())
        return false;
    const FileKind* kind = fileKindOfName(name);
    return kind ? kind->passes(reader) : contentPasses(reader);
}

bool passesInputGuards(int fd, TagLib_File_Type type)
{
    const Reader reader(fd);
    const FileKind* kind = fileKindOfType(type);
    return reader.ok() && (!kind || kind->passes(reader));
}

} // namespace tagwrapper
