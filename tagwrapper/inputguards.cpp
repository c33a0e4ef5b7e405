#include "inputguards.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <taglib/apefile.h>
#include <taglib/audioproperties.h>
#include <taglib/mpegfile.h>

#include <zlib.h>

namespace tagwrapper {
namespace {

using Bytes = std::vector<unsigned char>;

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

// Reads of a file that never block (a FIFO swapped in after the caller's check is refused)
// and never read past what the file holds. The checks read many small numbers close to each
// other (atom headers, ASF attribute records); they are served from one window of the file,
// read once, instead of one system call each.
class Reader
{
public:
    // Bytes read at once for small reads; larger reads go to the file directly.
    static constexpr std::size_t kWindow = 16 * 1024;

    explicit Reader(const char* path)
        : Reader(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY), true)
    {}
    // Reads through a descriptor someone else owns.
    explicit Reader(int fd) : Reader(fd, false) {}
    ~Reader()
    {
        if (m_owned && m_fd >= 0)
            ::close(m_fd);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool ok() const { return m_ok; }
    std::uint64_t size() const { return m_size; }

    // Exactly `count` bytes at `offset`, or false.
    bool read(std::uint64_t offset, void* buffer, std::size_t count) const
    {
        if (offset > m_size || count > m_size - offset)
            return false;
        if (count == 0)
            return true;
        if (count > kWindow)
            return readFile(offset, buffer, count);
        const char* bytes = view(offset, count);
        if (!bytes)
            return false;
        std::memcpy(buffer, bytes, count);
        return true;
    }

    bool read(std::uint64_t offset, std::size_t count, Bytes& bytes) const
    {
        bytes.resize(count);
        return read(offset, bytes.data(), count);
    }

    // Offset of the first `pattern` at or after `from`, or -1; scans the file a window at a
    // time.
    std::int64_t find(const char* pattern, std::uint64_t from, std::uint64_t limit) const
    {
        const std::size_t n = std::strlen(pattern);
        constexpr std::size_t kChunk = kWindow - 64;
        const std::uint64_t end = std::min(limit, m_size);
        for (std::uint64_t at = from; at < end && end - at >= n; at += kChunk) {
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(kChunk + n - 1, end - at));
            const char* chunk = view(at, want);
            if (!chunk)
                return -1;
            if (const void* hit = ::memmem(chunk, want, pattern, n))
                return static_cast<std::int64_t>(
                    at + static_cast<std::uint64_t>(static_cast<const char*>(hit) - chunk));
        }
        return -1;
    }

private:
    Reader(int fd, bool owned) : m_fd(fd), m_owned(owned)
    {
        struct stat st;
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)) {
            m_size = static_cast<std::uint64_t>(st.st_size);
            m_ok = true;
        }
    }

    bool readFile(std::uint64_t offset, void* buffer, std::size_t count) const
    {
        auto* out = static_cast<char*>(buffer);
        while (count > 0) {
            const ssize_t got = ::pread(m_fd, out, count, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += static_cast<std::uint64_t>(got);
            count -= static_cast<std::size_t>(got);
        }
        return true;
    }

    // The `count` (at most kWindow) bytes at `offset` in the window, read into it when they
    // are not there yet; null when the file does not hold them.
    const char* view(std::uint64_t offset, std::size_t count) const
    {
        if (offset > m_size || count > m_size - offset || count > kWindow)
            return nullptr;
        if (offset < m_windowStart || offset + count > m_windowStart + m_windowSize) {
            if (!m_window)
                m_window.reset(new char[kWindow]);
            // Near the end the window ends with the file, so reads moving backwards from
            // there (tags at the end) stay in it too.
            const std::uint64_t start = m_size - offset < kWindow
                                            ? m_size - std::min<std::uint64_t>(m_size, kWindow)
                                            : offset;
            const auto length =
                static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, m_size - start));
            m_windowSize = 0;
            if (!readFile(start, m_window.get(), length))
                return nullptr;
            m_windowStart = start;
            m_windowSize = length;
        }
        return m_window.get() + (offset - m_windowStart);
    }

    int m_fd = -1;
    bool m_owned = false;
    std::uint64_t m_size = 0;
    bool m_ok = false;
    mutable std::unique_ptr<char[]> m_window;
    mutable std::uint64_t m_windowStart = 0;
    mutable std::uint64_t m_windowSize = 0;
};

std::uint32_t bigEndian32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

std::uint32_t littleEndian32(const unsigned char* p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 |
           std::uint32_t(p[0]);
}

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

// Size of an ID3v2 tag at the start of the file (header, body and footer), 0 without one.
std::uint64_t leadingId3v2Size(const Reader& r)
{
    unsigned char h[10];
    if (!r.read(0, h, sizeof h) || std::memcmp(h, "ID3", 3) != 0)
        return 0;
    for (int i = 6; i < 10; ++i) {
        if (h[i] & 0x80)
            return 0; // not a synchsafe size: TagLib sees no tag either
    }
    const std::uint64_t body = std::uint64_t(h[6]) << 21 | std::uint64_t(h[7]) << 14 |
                               std::uint64_t(h[8]) << 7 | std::uint64_t(h[9]);
    return 10 + body + ((h[5] & 0x10) ? 10 : 0);
}

// --- ID3v2 ------------------------------------------------------------------------------------

// Most bytes the compressed frames of one ID3v2 tag may inflate to. TagLib inflates every
// compressed frame when it opens the file, with no limit: zeros compress a thousandfold, so
// a file of a few megabytes makes it allocate gigabytes.
constexpr std::uint64_t kMaxId3v2Inflated = 16u << 20;

bool synchsafe(const unsigned char* p)
{
    return ((p[0] | p[1] | p[2] | p[3]) & 0x80) == 0;
}

std::uint64_t synchsafe32(const unsigned char* p)
{
    return std::uint64_t(p[0]) << 21 | std::uint64_t(p[1]) << 14 | std::uint64_t(p[2]) << 7 | p[3];
}

// Undoes unsynchronisation: every 0xFF 0x00 becomes 0xFF.
Bytes resynchronised(const unsigned char* data, std::size_t size)
{
    Bytes out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == 0xFF && i + 1 < size && data[i + 1] == 0x00)
            ++i;
    }
    return out;
}

// Inflates into a scratch buffer, counting down `budget`; false once the budget is spent.
bool inflatesWithin(const unsigned char* data, std::size_t size, std::uint64_t& budget)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return true; // TagLib cannot inflate it either
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(size);
    std::vector<unsigned char> scratch(64 * 1024);
    bool within = true;
    for (;;) {
        stream.next_out = scratch.data();
        stream.avail_out = static_cast<uInt>(scratch.size());
        const int result = inflate(&stream, Z_NO_FLUSH);
        const std::uint64_t produced = scratch.size() - stream.avail_out;
        if (produced > budget) {
            within = false;
            break;
        }
        budget -= produced;
        if (result != Z_OK || stream.avail_out != 0)
            break; // the end, an error, or no more input: TagLib stops there too
    }
    inflateEnd(&stream);
    return within;
}

// The frames of an ID3v2.3 or 2.4 tag at `pos`, walked as TagLib does; compressed frames
// must not inflate beyond kMaxId3v2Inflated together.
bool checkId3v2At(const Reader& r, std::uint64_t pos)
{
    unsigned char header[10];
    if (!r.read(pos, header, sizeof header) || std::memcmp(header, "ID3", 3) != 0 ||
        !synchsafe(header + 6))
        return true;
    const int version = header[3];
    if (version != 3 && version != 4)
        return true; // 2.2 frames cannot be compressed
    const std::uint64_t tagSize = synchsafe32(header + 6);
    Bytes tag;
    if (!r.read(pos + 10, static_cast<std::size_t>(std::min(tagSize, r.size() - pos - 10)), tag))
        return true;
    const bool tagUnsynchronised = (header[5] & 0x80) != 0;
    if (tagUnsynchronised && version == 3)
        tag = resynchronised(tag.data(), tag.size());
    std::size_t at = 0;
    if ((header[5] & 0x40) && tag.size() >= 4) {
        const std::uint64_t extended = synchsafe32(tag.data());
        if (extended <= tag.size())
            at = static_cast<std::size_t>(extended);
    }
    std::uint64_t budget = kMaxId3v2Inflated;
    while (tag.size() - at >= 10 && tag[at] != 0) {
        const unsigned char* frame = tag.data() + at;
        // iTunes writes 2.4 frame sizes the 2.3 way; TagLib reads those too.
        const std::uint64_t size =
            version == 4 && synchsafe(frame + 4) ? synchsafe32(frame + 4) : bigEndian32(frame + 4);
        if (size == 0 || size > tag.size() - at - 10)
            break;
        const unsigned char flags = frame[9];
        const bool compressed = version == 3 ? (flags & 0x80) : (flags & 0x08);
        const bool encrypted = version == 3 ? (flags & 0x40) : (flags & 0x04);
        if (compressed && !encrypted && size > 4) {
            const bool unsynchronised = version == 4 && ((flags & 0x02) || tagUnsynchronised);
            const Bytes body = unsynchronised ? resynchronised(frame + 10, size)
                                              : Bytes(frame + 10, frame + 10 + size);
            if (body.size() > 4 && !inflatesWithin(body.data() + 4, body.size() - 4, budget))
                return false;
        }
        at += 10 + static_cast<std::size_t>(size);
    }
    return true;
}

// Length of the MPEG audio frame whose header is `h`, 0 when `h` is no valid header; the
// length as TagLib computes it.
std::uint64_t mpegFrameLength(const unsigned char* h)
{
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int versionBits = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = 4 - ((h[1] >> 1) & 3); // 1..3, 4 is reserved
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (versionBits == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static const int bitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int rates[3] = {44100, 48000, 32000};
    const bool version1 = versionBits == 3;
    const int rate = rates[rateIndex] / (version1 ? 1 : versionBits == 2 ? 2 : 4);
    const std::uint64_t bitrate = bitrates[version1 ? 0 : 1][layer - 1][bitrateIndex];
    const std::uint64_t samples = layer == 1 ? 384 : (layer == 3 && !version1) ? 576 : 1152;
    const bool padded = (h[2] & 0x02) != 0;
    return samples * bitrate * 125 / std::uint64_t(rate) + (padded ? (layer == 1 ? 4 : 1) : 0);
}

// Where TagLib stops looking for an ID3v2 tag: the first frame header followed by another
// one of the same version, layer, sample rate and channel mode (TagLib compares fewer
// fields, so it never stops earlier than this).
std::uint64_t firstMpegFrame(const Reader& r)
{
    constexpr std::size_t kChunk = Reader::kWindow - 64;
    Bytes chunk;
    for (std::uint64_t at = 0; at < r.size(); at += kChunk) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk + 3, r.size() - at));
        if (want < 4 || !r.read(at, want, chunk))
            break;
        for (std::size_t i = 0; i + 4 <= want && i < kChunk; ++i) {
            if (chunk[i] != 0xFF)
                continue;
            const std::uint64_t length = mpegFrameLength(&chunk[i]);
            unsigned char next[4];
            if (length == 0 || !r.read(at + i + length, next, sizeof next))
                continue;
            if (mpegFrameLength(next) != 0 && (next[1] & 0xFE) == (chunk[i + 1] & 0xFE) &&
                (next[2] & 0x0C) == (chunk[i + 2] & 0x0C) &&
                (next[3] & 0xC0) == (chunk[i + 3] & 0xC0))
                return at + i;
        }
    }
    return r.size();
}

// TagLib takes the first ID3v2 tag of an MPEG file even after leading junk, as long as it
// comes before the first audio frame.
bool checkMpeg(const Reader& r)
{
    if (!checkId3v2At(r, 0))
        return false;
    unsigned char head[3];
    if (r.read(0, head, sizeof head) && std::memcmp(head, "ID3", 3) == 0)
        return true;
    const std::int64_t tag = r.find("ID3", 0, firstMpegFrame(r));
    return tag < 0 || checkId3v2At(r, static_cast<std::uint64_t>(tag));
}

// --- MP4 ---------------------------------------------------------------------------------------

bool isMp4Container(const unsigned char* name)
{
    static const char* const containers[] = {"moov", "udta", "mdia", "meta", "ilst", "stbl",
                                             "minf", "moof", "traf", "trak", "stsd"};
    return std::any_of(std::begin(containers), std::end(containers),
                       [name](const char* c) { return std::memcmp(name, c, 4) == 0; });
}

// Atoms whose numbers TagLib rewrites in place when a save moves the audio data: chunk
// offset tables (a count, then 4- or 8-byte offsets) and fragment headers (a base offset
// after the flags). TagLib trusts the count and the flags: a count larger than the table
// makes it write billions of entries past the atom, which hangs the save and grows the file.
bool checkOffsetAtom(const Reader& r, std::uint64_t pos, const unsigned char* name,
                     std::uint64_t available)
{
    unsigned char fields[4];
    if (std::memcmp(name, "stco", 4) == 0 || std::memcmp(name, "co64", 4) == 0) {
        const std::uint64_t entry = name[0] == 's' ? 4 : 8;
        if (available < 16 || !r.read(pos + 12, fields, sizeof fields))
            return false;
        return bigEndian32(fields) <= (available - 16) / entry;
    }
    if (std::memcmp(name, "tfhd", 4) == 0) {
        if (available < 12 || !r.read(pos + 8, fields, sizeof fields))
            return false;
        const bool hasBaseOffset = (fields[3] & 1) != 0;
        return !hasBaseOffset || available >= 24;
    }
    return true;
}

// Walks the atom tree the way TagLib builds it, without recursion, and refuses a tree
// deeper or larger than TagLib can build safely, or offset tables it would overrun. Where
// TagLib stops reading (a length below 8, a cut-off header) the walk stops too and the file
// passes. A length beyond the end of the file does not stop TagLib 1.13, so it does not stop
// the walk either.
bool checkMp4(const Reader& r)
{
    const std::uint64_t fileEnd = r.size();
    std::vector<std::uint64_t> openEnds; // end offsets of the containers we are inside
    std::uint64_t pos = 0;
    long atoms = 0;
    for (;;) {
        while (!openEnds.empty() && pos >= openEnds.back())
            openEnds.pop_back();
        if (openEnds.empty() && (pos > fileEnd || fileEnd - pos < 8))
            return true;
        unsigned char header[8];
        if (!r.read(pos, header, sizeof header))
            return true;
        if (++atoms > kMaxMp4Atoms)
            return false;
        std::uint64_t length = bigEndian32(header);
        std::uint64_t headerSize = 8;
        if (length == 0) {
            length = fileEnd - pos;
        } else if (length == 1) {
            unsigned char large[8];
            if (!r.read(pos + 8, large, sizeof large))
                return true;
            length = std::uint64_t(bigEndian32(large)) << 32 | bigEndian32(large + 4);
            headerSize = 16;
            if (length > std::uint64_t(INT64_MAX))
                return true;
        }
        if (length < 8)
            return true;
        const unsigned char* name = header + 4;
        if (!checkOffsetAtom(r, pos, name, std::min(length, fileEnd - pos)))
            return false;
        if (!isMp4Container(name)) {
            pos += length;
            continue;
        }
        if (static_cast<int>(openEnds.size()) + 1 > kMaxMp4Depth)
            return false;
        std::uint64_t child = pos + headerSize;
        if (std::memcmp(name, "meta", 4) == 0) {
            // "meta" is a full atom (version and flags first) unless a known child follows
            // right away.
            static const char* const direct[] = {"hdlr", "ilst", "mhdr", "ctry", "lang"};
            unsigned char next[8];
            const bool known =
                r.read(child, next, sizeof next) &&
                std::any_of(std::begin(direct), std::end(direct),
                            [&next](const char* n) { return std::memcmp(next + 4, n, 4) == 0; });
            if (!known)
                child += 4;
        } else if (std::memcmp(name, "stsd", 4) == 0) {
            child += 8;
        }
        openEnds.push_back(pos + length);
        pos = child;
    }
}

// --- Vorbis comments (FLAC and Ogg) ------------------------------------------------------------

// True when TagLib's 32-bit sum of a position and a length read from the file wraps, or the
// length is more than the whole file holds: either way the length is garbage, and a wrapped
// sum sends TagLib back to bytes it has read before.
bool lengthIsGarbage(std::uint64_t pos, std::uint64_t length, std::uint64_t fileSize)
{
    return length > fileSize || pos + length > 0xffffffffu;
}

// A Vorbis comment block. TagLib adds each field's length to its position in 32 bits: a
// length near 4 GiB wraps around, and TagLib reads the rest of the block as a field again
// and again, once per field the count promises, allocating gigabytes. A field merely longer
// than the block ends TagLib's reading, which is harmless, so that passes.
bool checkXiphComment(const unsigned char* data, std::uint64_t size, std::uint64_t fileSize)
{
    if (size < 4)
        return true;
    const std::uint64_t vendor = littleEndian32(data);
    if (lengthIsGarbage(4, vendor, fileSize))
        return false;
    std::uint64_t pos = 4 + vendor;
    if (pos > size || size - pos < 4)
        return true;
    const std::uint64_t fields = littleEndian32(data + pos);
    pos += 4;
    if (size >= 8 && fields > (size - 8) / 4)
        return true; // TagLib ignores a count this large and reads no field
    for (std::uint64_t i = 0; i < fields; ++i) {
        if (size - pos < 4)
            return true;
        const std::uint64_t length = littleEndian32(data + pos);
        if (lengthIsGarbage(pos + 4, length, fileSize))
            return false;
        pos += 4 + length;
        if (pos > size)
            return true; // where TagLib stops
    }
    return true;
}

// A FLAC picture block: type, MIME type, description, four numbers, picture data. TagLib
// checks each length against the block in 32 bits, so only a wrapping length gets past it.
bool checkFlacPicture(const Bytes& data, std::uint64_t fileSize)
{
    const std::uint64_t size = data.size();
    std::uint64_t pos = 4;
    for (int field = 0; field < 3; ++field) {
        if (size < pos + 4)
            return true; // TagLib discards the picture
        const std::uint64_t length = bigEndian32(data.data() + pos);
        pos += 4;
        if (lengthIsGarbage(pos + 24, length, fileSize))
            return false;
        if (length > size - pos)
            return true;
        pos += length + (field == 1 ? 16 : 0);
    }
    return true;
}

bool checkFlac(const Reader& r, std::uint64_t searchFrom)
{
    const std::int64_t marker = r.find("fLaC", searchFrom, r.size());
    if (marker < 0)
        return true; // TagLib finds no stream and calls the file invalid
    std::uint64_t pos = static_cast<std::uint64_t>(marker) + 4;
    Bytes block;
    for (int index = 0;; ++index) {
        if (index >= kMaxFlacBlocks)
            return false;
        unsigned char header[4];
        if (!r.read(pos, header, sizeof header))
            return true; // TagLib stops here and calls the file invalid
        const int type = header[0] & 0x7f;
        const bool last = (header[0] & 0x80) != 0;
        const std::uint64_t length =
            std::uint64_t(header[1]) << 16 | std::uint64_t(header[2]) << 8 | header[3];
        pos += 4;
        if (length > r.size() - pos)
            return false;
        if (type == 4 || type == 6) {
            if (!r.read(pos, static_cast<std::size_t>(length), block))
                return false;
            if (type == 4 && !checkXiphComment(block.data(), block.size(), r.size()))
                return false;
            if (type == 6 && !checkFlacPicture(block, r.size()))
                return false;
        }
        pos += length;
        if (last)
            return true;
    }
}

// --- Ogg -------------------------------------------------------------------------------------

// Packets that may hold a comment header come first in a stream.
constexpr int kOggHeaderPackets = 16;

// Largest header packet accepted; TagLib would hold a larger one in memory whole.
constexpr std::size_t kMaxOggHeaderPacket = 64u << 20;

// The first packets of the stream, assembled from pages as TagLib does: from the first
// "OggS", page after page, segment by segment. False when a packet is too large.
bool oggHeaderPackets(const Reader& r, std::vector<Bytes>& packets)
{
    packets.assign(1, Bytes());
    const std::int64_t first = r.find("OggS", 0, r.size());
    if (first < 0)
        return true;
    std::uint64_t pos = static_cast<std::uint64_t>(first);
    Bytes page;
    for (;;) {
        unsigned char header[27];
        unsigned char lacing[255];
        if (!r.read(pos, header, sizeof header) || std::memcmp(header, "OggS", 4) != 0)
            break;
        const std::size_t segments = header[26];
        if (!r.read(pos + 27, lacing, segments))
            break;
        std::size_t dataSize = 0;
        for (std::size_t s = 0; s < segments; ++s)
            dataSize += lacing[s];
        const std::uint64_t data = pos + 27 + segments;
        const std::uint64_t available = r.size() > data ? r.size() - data : 0;
        const bool complete = dataSize <= available;
        if (!r.read(data, static_cast<std::size_t>(std::min<std::uint64_t>(dataSize, available)),
                    page))
            break;
        std::size_t at = 0;
        for (std::size_t s = 0; s < segments && at < page.size(); ++s) {
            const std::size_t piece = std::min<std::size_t>(lacing[s], page.size() - at);
            Bytes& packet = packets.back();
            if (packet.size() + piece > kMaxOggHeaderPacket)
                return false;
            packet.insert(packet.end(), page.begin() + static_cast<long>(at),
                          page.begin() + static_cast<long>(at + piece));
            at += piece;
            if (lacing[s] < 255) {
                if (packets.size() == kOggHeaderPackets)
                    return true;
                packets.emplace_back();
            }
        }
        if (!complete || (header[5] & 0x04))
            break; // cut off, or the last page of the stream
        pos = data + dataSize;
    }
    return true;
}

bool startsWith(const Bytes& packet, const char* prefix, std::size_t n)
{
    return packet.size() >= n && std::memcmp(packet.data(), prefix, n) == 0;
}

bool checkOgg(const Reader& r)
{
    std::vector<Bytes> packets;
    if (!oggHeaderPackets(r, packets))
        return false;
    const bool speex = startsWith(packets[0], "Speex   ", 8);
    const bool flac = startsWith(packets[0],
                                 "\x7f"
                                 "FLAC",
                                 5);
    for (std::size_t i = 1; i < packets.size(); ++i) {
        const Bytes& p = packets[i];
        std::size_t skip = 0;
        if (startsWith(p, "\x03vorbis", 7))
            skip = 7;
        else if (startsWith(p, "OpusTags", 8))
            skip = 8;
        else if (flac && !p.empty() && (p[0] & 0x7f) == 4)
            skip = 4;
        else if (!(speex && i == 1))
            continue;
        if (!checkXiphComment(p.data() + std::min(skip, p.size()),
                              p.size() - std::min(skip, p.size()), r.size()))
            return false;
    }
    return true;
}

// --- ASF --------------------------------------------------------------------------------------

// Object GUIDs as they are stored.
const unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfExtendedContent[16] = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                               0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
const unsigned char kAsfHeaderExtension[16] = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                               0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const unsigned char kAsfContentDescription[16] = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kAsfMetadata[16] = {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48,
                                        0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA};
const unsigned char kAsfMetadataLibrary[16] = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                               0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};

std::uint64_t littleEndian64(const unsigned char* p)
{
    return std::uint64_t(littleEndian32(p + 4)) << 32 | littleEndian32(p);
}

// A read position that moves as TagLib's does: reads stop at the end of the file, where
// numbers read as 0, and seeks may go past it.
class AsfCursor
{
public:
    explicit AsfCursor(const Reader& r, std::uint64_t pos) : m_r(r), m_pos(pos) {}

    std::uint64_t pos() const { return m_pos; }
    bool atEnd() const { return m_pos >= m_r.size(); }
    void seek(std::uint64_t pos) { m_pos = pos; }
    void skip(std::uint64_t count) { m_pos += count; }
    // Like TagLib's readBlock: moves over what the file holds of `count` bytes.
    bool read(std::uint64_t count)
    {
        const std::uint64_t left = atEnd() ? 0 : m_r.size() - m_pos;
        m_pos += std::min(count, left);
        return count <= left;
    }
    std::uint64_t number(std::size_t bytes, bool* ok = nullptr)
    {
        unsigned char b[8] = {};
        const bool got = !atEnd() && m_r.read(m_pos, b, bytes);
        if (ok)
            *ok = got;
        read(bytes);
        return got ? littleEndian64(b) : 0;
    }
    bool guid(unsigned char (&out)[16])
    {
        const bool got = !atEnd() && m_r.read(m_pos, out, sizeof out);
        read(sizeof out);
        return got;
    }

private:
    const Reader& m_r;
    std::uint64_t m_pos;
};

// An attribute list (extended content description, metadata, metadata library), read the
// way TagLib reads it: a 16-bit count, then that many records straight from the file, with
// no regard for the object's size. Records that are not there cost TagLib a few allocations
// each; 65535 of them past the end of the file keep it busy for a second, and for half a
// minute under a sanitizer. Such a list is refused.
bool readAsfAttributeList(AsfCursor& c, int kind)
{
    for (std::uint64_t count = c.number(2); count > 0; --count) {
        if (c.atEnd())
            return false;
        std::uint64_t nameLength = 0;
        std::uint64_t type = 0;
        std::uint64_t size = 0;
        if (kind == 0) {
            nameLength = c.number(2);
            c.read(nameLength);
            type = c.number(2);
            size = c.number(2);
        } else {
            c.number(2);
            c.number(2);
            nameLength = c.number(2);
            type = c.number(2);
            size = c.number(4);
            c.read(nameLength);
        }
        switch (type) {
        case 0: // text
        case 1: // bytes
        case 6: // GUID
            c.read(size);
            break;
        case 2: // boolean
            c.number(kind == 0 ? 4 : 2);
            break;
        case 3:
            c.number(4);
            break;
        case 4:
            c.number(8);
            break;
        case 5:
            c.number(2);
            break;
        default:
            break;
        }
    }
    return true;
}

// What TagLib's base object parse moves over: the object's body when its 32-bit size fits
// the file, nothing otherwise.
void skipAsfObject(AsfCursor& c, std::uint64_t size, std::uint64_t fileSize)
{
    const auto size32 = static_cast<std::uint32_t>(size);
    if (size32 > 24 && size32 <= static_cast<std::uint32_t>(fileSize))
        c.read(size32 - 24);
}

// The header objects, walked the way TagLib 1.13 reads them, object after object from where
// the last one's parse left off.
bool checkAsf(const Reader& r)
{
    unsigned char header[30];
    if (!r.read(0, header, sizeof header) || std::memcmp(header, kAsfHeader, 16) != 0)
        return true; // TagLib calls the file invalid
    const auto objects = static_cast<std::int32_t>(littleEndian32(header + 24));
    AsfCursor c(r, 30);
    for (std::int32_t i = 0; i < objects; ++i) {
        unsigned char guid[16];
        bool ok = false;
        if (!c.guid(guid))
            return true;
        const std::uint64_t size = c.number(8, &ok);
        if (!ok)
            return true;
        if (std::memcmp(guid, kAsfExtendedContent, 16) == 0) {
            if (!readAsfAttributeList(c, 0))
                return false;
        } else if (std::memcmp(guid, kAsfContentDescription, 16) == 0) {
            std::uint64_t lengths = 0;
            for (int field = 0; field < 5; ++field)
                lengths += c.number(2);
            c.read(lengths);
        } else if (std::memcmp(guid, kAsfHeaderExtension, 16) == 0) {
            c.skip(18);
            const auto dataSize = static_cast<std::int64_t>(c.number(4));
            for (std::int64_t dataPos = 0; dataPos < dataSize;) {
                unsigned char child[16];
                if (!c.guid(child))
                    break;
                const auto childSize = static_cast<std::int64_t>(c.number(8, &ok));
                if (!ok || childSize < 0 || childSize > dataSize - dataPos)
                    break;
                if (std::memcmp(child, kAsfMetadata, 16) == 0) {
                    if (!readAsfAttributeList(c, 1))
                        return false;
                } else if (std::memcmp(child, kAsfMetadataLibrary, 16) == 0) {
                    if (!readAsfAttributeList(c, 2))
                        return false;
                } else {
                    skipAsfObject(c, static_cast<std::uint64_t>(childSize), r.size());
                }
                dataPos += childSize;
            }
        } else {
            skipAsfObject(c, size, r.size());
        }
    }
    return true;
}

// --- Dispatch ----------------------------------------------------------------------------------

bool checkFamily(const Reader& r, Family family)
{
    switch (family) {
    case Family::Mp4:
        return checkMp4(r);
    case Family::Mpeg:
        return checkMpeg(r);
    case Family::Flac:
        return checkId3v2At(r, 0) && checkFlac(r, leadingId3v2Size(r));
    case Family::Ogg:
        return checkOgg(r);
    case Family::Asf:
        return checkAsf(r);
    case Family::Other:
        return true;
    case Family::ByContent:
        break;
    }
    // TagLib tries one type after another on such a file; each check whose signature the
    // content carries applies.
    if (!checkId3v2At(r, 0))
        return false;
    unsigned char head[12] = {};
    r.read(0, head, std::min<std::uint64_t>(sizeof head, r.size()));
    if (std::memcmp(head + 4, "ftyp", 4) == 0 && !checkMp4(r))
        return false;
    if (std::memcmp(head, "OggS", 4) == 0 && !checkOgg(r))
        return false;
    if (std::memcmp(head, kAsfHeader, 12) == 0 && !checkAsf(r))
        return false;
    const std::uint64_t id3 = leadingId3v2Size(r);
    if (r.find("fLaC", id3, id3 + 1024) >= 0 && !checkFlac(r, id3))
        return false;
    return true;
}

bool passes(const char* path, Family family)
{
    if (!path || !*path)
        return false;
    const Reader reader(path);
    return reader.ok() && checkFamily(reader, family);
}

} // namespace

bool passesInputGuards(const char* path)
{
    return path && passes(path, familyOfExtension(upperExtension(path)));
}

bool passesInputGuards(const char* path, TagLib_File_Type type)
{
    return passes(path, familyOfType(type));
}

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

bool hasAudio(TagLib::File* file)
{
    if (!dynamic_cast<TagLib::MPEG::File*>(file) && !dynamic_cast<TagLib::APE::File*>(file))
        return true;
    // Both leave the sample rate at 0 when they find no frame or no APE header.
    const TagLib::AudioProperties* properties = file->audioProperties();
    return properties && properties->sampleRate() > 0;
}

} // namespace tagwrapper
