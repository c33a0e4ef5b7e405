#include "tagextent.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tagora {
namespace {

// No range asked for is longer: a header claiming more is broken or not worth the wait.
constexpr off_t kLongestRange = 16 << 20;
// What is asked for where a header that would tell the extent is not in memory yet: enough
// for a cover of a few hundred kilobytes.
constexpr off_t kUnknownExtent = 256 * 1024;
// The tag read looks at the first audio frame after a leading ID3v2 tag.
constexpr off_t kFirstFrame = 4 * 1024;
// Walks over a format's blocks, pages or atoms stop after this many.
constexpr int kMostSteps = 4096;

const unsigned char kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

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

std::uint64_t bigEndian64(const unsigned char* p)
{
    return std::uint64_t(bigEndian32(p)) << 32 | bigEndian32(p + 4);
}

std::uint64_t littleEndian64(const unsigned char* p)
{
    return std::uint64_t(littleEndian32(p + 4)) << 32 | littleEndian32(p);
}

class Sniffer
{
public:
    Sniffer(const CachedRead& read, off_t size) : m_read(read), m_size(size) {}

    std::vector<ByteRange> wanted()
    {
        const off_t audio = leadingId3v2End();
        unsigned char magic[8];
        if (bytes(audio, magic, sizeof magic)) {
            if (std::memcmp(magic, "fLaC", 4) == 0)
                flacBlocks(audio + 4);
            else if (std::memcmp(magic, "OggS", 4) == 0)
                oggHeaderPages(audio);
            else if (std::memcmp(magic + 4, "ftyp", 4) == 0)
                mp4Atoms(audio);
            else if (audio == 0)
                asfHeader();
        }
        apeTagAtTheEnd();
        return m_wanted;
    }

private:
    bool bytes(off_t at, unsigned char* into, std::size_t count) const
    {
        return at >= 0 && at <= m_size && off_t(count) <= m_size - at &&
               (count == 0 || m_read(at, into, count));
    }

    void want(off_t from, off_t to)
    {
        from = std::max<off_t>(0, from);
        to = std::min({to, m_size, from + kLongestRange});
        if (from < to)
            m_wanted.push_back({from, to});
    }

    // Where the audio begins after a leading ID3v2 tag (0 without one); the tag and the first
    // frame after it are wanted.
    off_t leadingId3v2End()
    {
        unsigned char header[10];
        if (!bytes(0, header, sizeof header) || std::memcmp(header, "ID3", 3) != 0)
            return 0;
        off_t size = 0;
        for (int i = 6; i < 10; ++i) {
            if (header[i] & 0x80)
                return 0; // not a synchsafe size: TagLib reads no tag here either
            size = size << 7 | header[i];
        }
        const off_t end = 10 + size + ((header[5] & 0x10) ? 10 : 0);
        want(0, end + kFirstFrame);
        return end;
    }

    // Metadata blocks from `at` up to the last one.
    void flacBlocks(off_t at)
    {
        const off_t start = at;
        for (int step = 0; step < kMostSteps; ++step) {
            unsigned char header[4];
            if (!bytes(at, header, sizeof header)) {
                want(start, at + kUnknownExtent);
                return;
            }
            at += 4 + off_t(bigEndian32(header) & 0xFFFFFF);
            if (header[0] & 0x80)
                break;
        }
        want(start, at);
    }

    // Pages from `at` until the first three packets (identification, comment, setup) end.
    void oggHeaderPages(off_t at)
    {
        const off_t start = at;
        int packets = 0;
        for (int step = 0; step < kMostSteps && packets < 3; ++step) {
            unsigned char header[27];
            unsigned char segments[255];
            if (!bytes(at, header, sizeof header) || !bytes(at + 27, segments, header[26])) {
                want(start, at + kUnknownExtent);
                return;
            }
            if (std::memcmp(header, "OggS", 4) != 0)
                break;
            off_t body = 0;
            for (int i = 0; i < header[26]; ++i) {
                body += segments[i];
                packets += segments[i] < 255 ? 1 : 0;
            }
            at += 27 + header[26] + body;
        }
        want(start, at);
    }

    // Top-level atoms from `at` up to "moov", which is wanted whole, wherever it lies.
    void mp4Atoms(off_t at)
    {
        for (int step = 0; step < kMostSteps && at < m_size; ++step) {
            unsigned char header[16];
            if (!bytes(at, header, 8)) {
                want(at, at + kUnknownExtent);
                return;
            }
            std::uint64_t length = bigEndian32(header);
            off_t headerLength = 8;
            if (length == 1) {
                if (!bytes(at, header, 16)) {
                    want(at, at + kUnknownExtent);
                    return;
                }
                length = bigEndian64(header + 8);
                headerLength = 16;
            } else if (length == 0) {
                length = std::uint64_t(m_size - at);
            }
            if (length < std::uint64_t(headerLength) || length > std::uint64_t(m_size - at))
                return;
            if (std::memcmp(header + 4, "moov", 4) == 0) {
                want(at, at + off_t(length));
                return;
            }
            at += off_t(length);
        }
    }

    void asfHeader()
    {
        unsigned char header[24];
        if (bytes(0, header, sizeof header) &&
            std::memcmp(header, kAsfHeaderGuid, sizeof kAsfHeaderGuid) == 0)
            want(0, off_t(std::min<std::uint64_t>(littleEndian64(header + 16), kLongestRange)));
    }

    // An APE tag ends the file or stands before an ID3v1 tag.
    void apeTagAtTheEnd()
    {
        off_t end = m_size;
        unsigned char id3v1[3];
        if (bytes(m_size - 128, id3v1, sizeof id3v1) && std::memcmp(id3v1, "TAG", 3) == 0)
            end -= 128;
        unsigned char footer[32];
        if (!bytes(end - 32, footer, sizeof footer) || std::memcmp(footer, "APETAGEX", 8) != 0)
            return;
        const off_t length = off_t(littleEndian32(footer + 12));
        const off_t header = (littleEndian32(footer + 20) & 0x80000000u) ? 32 : 0;
        if (length <= end)
            want(end - length - header, end);
    }

    const CachedRead& m_read;
    off_t m_size;
    std::vector<ByteRange> m_wanted;
};

} // namespace

std::vector<ByteRange> tagBytesBeyond(const CachedRead& read, off_t size, off_t head, off_t tail)
{
    std::vector<ByteRange> beyond;
    const off_t tailStart = std::max<off_t>(0, size - tail);
    for (const ByteRange& range : Sniffer(read, size).wanted()) {
        const ByteRange rest{std::max(range.from, head), std::min(range.to, tailStart)};
        if (rest.from < rest.to)
            beyond.push_back(rest);
    }
    return beyond;
}

} // namespace tagora
