#include "inputguards.h"

#include "familyguards.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace tagwrapper {
namespace {

// The structures checked here; everything else TagLib reads with enough care.
enum class Family
{
    Other,
    Mpeg,
    Mp4,
    Flac,
    Ogg,
    Asf,
    ByContent // an extension TagLib does not know: it looks at the content
};

std::string upperExtension(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const char* dot = std::strrchr(name, '.');
    std::string ext = dot ? dot + 1 : "";
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

// The family of the TagLib class FileRef picks for this extension.
Family familyOfExtension(const std::string& ext)
{
    static const char* const mp4[] = {"M4A", "M4R", "M4B", "M4P", "MP4", "3G2", "M4V"};
    static const char* const ogg[] = {"OGG", "OGA", "SPX", "OPUS"};
    static const char* const mpeg[] = {"MP3", "MP2", "AAC"};
    static const char* const other[] = {"MPC", "WV",  "TTA", "AIF",    "AIFF", "AFC", "AIFC", "WAV",
                                        "APE", "MOD", "NST", "MODULE", "WOW",  "S3M", "IT",   "XM"};
    const auto in = [&ext](const auto& list) {
        return std::any_of(std::begin(list), std::end(list),
                           [&ext](const char* e) { return ext == e; });
    };
    if (in(mpeg))
        return Family::Mpeg;
    if (in(mp4))
        return Family::Mp4;
    if (ext == "FLAC")
        return Family::Flac;
    if (in(ogg))
        return Family::Ogg;
    if (ext == "WMA" || ext == "ASF")
        return Family::Asf;
    if (in(other))
        return Family::Other;
    return Family::ByContent;
}

Family familyOfType(TagLib_File_Type type)
{
    switch (type) {
    case TagLib_File_MP4:
        return Family::Mp4;
    case TagLib_File_FLAC:
        return Family::Flac;
    case TagLib_File_OggVorbis:
    case TagLib_File_OggFlac:
    case TagLib_File_Speex:
        return Family::Ogg;
    case TagLib_File_MPEG:
        return Family::Mpeg;
    case TagLib_File_MPC:
    case TagLib_File_WavPack:
    case TagLib_File_TrueAudio:
        break;
    case TagLib_File_ASF:
        return Family::Asf;
    }
    return Family::Other;
}
// --- Dispatch ----------------------------------------------------------------------------------

bool checkFamily(const Reader& r, Family family)
{
    switch (family) {
    case Family::Mp4:
        return mp4Passes(r);
    case Family::Mpeg:
        return mpegPasses(r);
    case Family::Flac:
        return id3v2TagPasses(r, 0) && flacPasses(r, leadingId3v2Size(r));
    case Family::Ogg:
        return oggPasses(r);
    case Family::Asf:
        return asfPasses(r);
    case Family::Other:
        return true;
    case Family::ByContent:
        break;
    }
    // TagLib tries one type after another on such a file; each check whose signature the
    // content carries applies.
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

} // namespace

bool passesInputGuards(int fd, const char* name)
{
    const Reader reader(fd);
    return name && reader.ok() && checkFamily(reader, familyOfExtension(upperExtension(name)));
}

bool passesInputGuards(int fd, TagLib_File_Type type)
{
    const Reader reader(fd);
    return reader.ok() && checkFamily(reader, familyOfType(type));
}

} // namespace tagwrapper
