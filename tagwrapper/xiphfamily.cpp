// Xiph: the Vorbis comment of Ogg (Vorbis, Opus, Speex, FLAC) and FLAC files holds the fields,
// one field per value; pictures and every other field stay as the file has them.
#include "familyguards.h"
#include "inputguards.h"
#include "tagfamily.h"

#include <taglib/audioproperties.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/oggflacfile.h>
#include <taglib/speexfile.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tagwrapper {
namespace {

// --- Input guards -------------------------------------------------------------------------------

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
        if (size - pos - 4 >= length && !xiphPictureFieldPasses(data + pos + 4, length))
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
        // A packet's segments lie end to end in the page: each run of them is copied at once.
        std::size_t at = 0;
        std::size_t runStart = 0;
        for (std::size_t s = 0; s < segments && at < page.size(); ++s) {
            at += std::min<std::size_t>(lacing[s], page.size() - at);
            const bool packetEnds = lacing[s] < 255;
            if (!packetEnds && s + 1 < segments && at < page.size())
                continue;
            Bytes& packet = packets.back();
            if (packet.size() + (at - runStart) > kMaxOggHeaderPacket)
                return false;
            packet.insert(packet.end(), page.begin() + static_cast<long>(runStart),
                          page.begin() + static_cast<long>(at));
            runStart = at;
            if (packetEnds) {
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

} // namespace

bool flacPasses(const Reader& r, std::uint64_t searchFrom)
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

bool oggPasses(const Reader& r)
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

namespace {

// Most bytes read past a comment block that claims less than its fields take.
constexpr std::uint64_t kMaxCommentOverrun = 16u << 20;

// Fields of a stored Vorbis comment that carry a value, as far as the bytes go: what other
// programs read from it. False when the declared fields run past `data`.
bool valuedFields(const Bytes& data, std::uint32_t& valued)
{
    valued = 0;
    if (data.size() < 4 || littleEndian32(data.data()) > data.size() - 4)
        return false;
    std::uint64_t pos = 4 + std::uint64_t(littleEndian32(data.data()));
    if (data.size() - pos < 4)
        return false;
    const std::uint32_t declared = littleEndian32(data.data() + pos);
    pos += 4;
    for (std::uint32_t i = 0; i < declared; ++i) {
        if (data.size() - pos < 4)
            return false;
        const std::uint64_t length = littleEndian32(data.data() + pos);
        pos += 4;
        if (length > data.size() - pos)
            return false;
        const unsigned char* entry = data.data() + pos;
        const unsigned char* separator = std::find(entry, entry + length, '=');
        if (separator != entry && separator + 1 < entry + length)
            ++valued;
        pos += length;
    }
    return true;
}

// The valued fields of a FLAC file's first Vorbis comment block; other programs read on when a
// block claims fewer bytes than its fields take, so those bytes count too.
std::uint32_t storedFlacFields(const Reader& r)
{
    const std::int64_t marker = r.find("fLaC", leadingId3v2Size(r), r.size());
    if (marker < 0)
        return 0;
    std::uint64_t pos = static_cast<std::uint64_t>(marker) + 4;
    for (int index = 0; index < kMaxFlacBlocks; ++index) {
        unsigned char header[4];
        if (!r.read(pos, header, sizeof header))
            return 0;
        const std::uint64_t length =
            std::uint64_t(header[1]) << 16 | std::uint64_t(header[2]) << 8 | header[3];
        pos += 4;
        if ((header[0] & 0x7f) == 4) {
            Bytes block;
            std::uint32_t valued = 0;
            const std::uint64_t rest = r.size() - std::min(pos, r.size());
            if (r.read(pos, static_cast<std::size_t>(std::min(length, rest)), block) &&
                !valuedFields(block, valued) &&
                r.read(pos, static_cast<std::size_t>(std::min(rest, kMaxCommentOverrun)), block))
                valuedFields(block, valued);
            return valued;
        }
        if (header[0] & 0x80)
            return 0;
        pos += length;
    }
    return 0;
}

// The valued fields of an Ogg stream's comment packet.
std::uint32_t storedOggFields(const Reader& r)
{
    std::vector<Bytes> packets;
    if (!oggHeaderPackets(r, packets) || packets.size() < 2)
        return 0;
    const Bytes& p = packets[1];
    std::size_t skip = 0;
    if (startsWith(p, "\x03vorbis", 7))
        skip = 7;
    else if (startsWith(p, "OpusTags", 8))
        skip = 8;
    else if (!p.empty() && (p[0] & 0x7f) == 4)
        skip = 4;
    std::uint32_t valued = 0;
    valuedFields(Bytes(p.begin() + static_cast<long>(std::min(skip, p.size())), p.end()), valued);
    return valued;
}

// --- Fields -------------------------------------------------------------------------------------

// The Vorbis comment of an Ogg or FLAC file, made when `create` is set and a FLAC file has none.
TagLib::Ogg::XiphComment* xiphOf(TagLib::File& file, bool create)
{
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(&file))
        return flac->xiphComment(create);
    return dynamic_cast<TagLib::Ogg::XiphComment*>(file.tag());
}

bool hasField(const TagLib::Ogg::XiphComment* xiph, const char* name)
{
    const auto& fields = xiph->fieldListMap();
    const auto it = fields.find(name);
    return it != fields.end() && !it->second.isEmpty();
}

TagLib::StringList valuesOf(const TagLib::Ogg::XiphComment* xiph, const TagLib::String& name)
{
    if (!xiph)
        return TagLib::StringList();
    const auto& fields = xiph->fieldListMap();
    const auto it = fields.find(name);
    return it == fields.end() ? TagLib::StringList() : it->second;
}

void replaceField(TagLib::Ogg::XiphComment* xiph, const TagLib::String& name,
                  const TagLib::StringList& values)
{
    xiph->removeFields(name);
    for (const TagLib::String& value : values)
        xiph->addField(name, value, false);
}

// TagLib 1.13 writes an Ogg FLAC stream's comment block without its last-block flag (so a
// stream whose metadata ends with the comment no longer reads), and over the stream's first
// packet when the stream has no comment block; the block is written here, flag kept, and a
// stream without one is not saved.
bool writeOggFlac(TagLib::Ogg::FLAC::File& file)
{
    for (unsigned int i = 1;; ++i) {
        const TagLib::ByteVector block = file.packet(i);
        if (block.size() < 4)
            return false;
        const bool last = (block[0] & 0x80) != 0;
        if ((block[0] & 0x7f) == 4) {
            const TagLib::ByteVector comment = file.tag()->render(false);
            TagLib::ByteVector packet = TagLib::ByteVector::fromUInt(comment.size());
            packet[0] = static_cast<char>(last ? 0x84 : 0x04);
            packet.append(comment);
            file.setPacket(i, packet);
            return file.TagLib::Ogg::File::save();
        }
        if (last)
            return false;
    }
}

class XiphFamily : public TagFamily
{
public:
    const std::vector<FileKind>& kinds() const override
    {
        static const std::vector<FileKind> kinds = {
            {"FLAC", flacFilePasses, TagLib_File_FLAC,
             [](TagLib::IOStream* stream) -> TagLib::File* {
                 return new TagLib::FLAC::File(stream, TagLib::ID3v2::FrameFactory::instance(),
                                               true, TagLib::AudioProperties::Average);
             }},
            {"OGG", oggFilePasses, TagLib_File_OggVorbis,
             [](TagLib::IOStream* stream) -> TagLib::File* {
                 return new TagLib::Ogg::Vorbis::File(stream, true,
                                                      TagLib::AudioProperties::Average);
             }},
            {"OGA", oggFilePasses, TagLib_File_OggFlac,
             [](TagLib::IOStream* stream) -> TagLib::File* {
                 return new TagLib::Ogg::FLAC::File(stream, true, TagLib::AudioProperties::Average);
             }},
            {"SPX", oggFilePasses, TagLib_File_Speex,
             [](TagLib::IOStream* stream) -> TagLib::File* {
                 return new TagLib::Ogg::Speex::File(stream, true,
                                                     TagLib::AudioProperties::Average);
             }},
            {"OPUS", oggFilePasses},
        };
        return kinds;
    }

    bool write(TagLib::File& file, const SaveRequest& request) const override
    {
        auto* oggFlac = dynamic_cast<TagLib::Ogg::FLAC::File*>(&file);
        return oggFlac ? writeOggFlac(*oggFlac) : TagFamily::write(file, request);
    }

    bool handles(TagLib::File& file) const override
    {
        return dynamic_cast<TagLib::FLAC::File*>(&file) ||
               dynamic_cast<TagLib::Ogg::XiphComment*>(file.tag());
    }

    TagLib::String text(TagLib::File& file, Field field) const override
    {
        const TagLib::Ogg::XiphComment* xiph = xiphOf(file, false);
        const TagLib::String own = joinedValues(valuesOf(xiph, rowOf(field).property));
        auto* flac = dynamic_cast<TagLib::FLAC::File*>(&file);
        if (!own.isEmpty() || !flac)
            return own;
        // A FLAC file may carry ID3 tags too; their fields show where the Vorbis comment lacks
        // them.
        const TagLib::String id3v2 = genericText(flac->ID3v2Tag(false), field);
        return id3v2.isEmpty() ? genericText(flac->ID3v1Tag(false), field) : id3v2;
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        TagLib::Ogg::XiphComment* xiph = xiphOf(file, true);
        if (!xiph)
            return;
        // The comment is COMMENT alone, the field written here. TagLib's own comment() prefers
        // DESCRIPTION, a field of its own to other programs: shown as the comment, a cleared
        // comment would come back with DESCRIPTION's text. DESCRIPTION holding the old
        // comment's text is a copy of it (some programs write both) and goes with it.
        if (field == Field::Comment &&
            valuesOf(xiph, "DESCRIPTION") == valuesOf(xiph, rowOf(field).property))
            xiph->removeFields("DESCRIPTION");
        replaceField(xiph, rowOf(field).property, valuesToStore(field, value));
    }

    // TagLib stops reading a comment at the first field that runs past its block or packet,
    // and drops fields it cannot take (an invalid name, a picture it cannot decode); a save
    // would write the comment without them.
    bool readInFull(TagLib::File& file, const Reader& stored) const override
    {
        const TagLib::Ogg::XiphComment* xiph = xiphOf(file, false);
        const std::uint32_t read = xiph ? xiph->fieldCount() : 0;
        const bool flac = dynamic_cast<TagLib::FLAC::File*>(&file) != nullptr;
        return read >= (flac ? storedFlacFields(stored) : storedOggFields(stored));
    }

    // A file that keeps the track total in TRACKTOTAL shows it after the number, and keeps it
    // there.
    TagLib::String fullText(TagLib::File& file, Field field) const override
    {
        const TagLib::Ogg::XiphComment* xiph = xiphOf(file, false);
        const TagLib::StringList number = valuesOf(xiph, "TRACKNUMBER");
        const TagLib::StringList total = valuesOf(xiph, "TRACKTOTAL");
        if (field != Field::Track || number.size() != 1 || total.size() != 1 ||
            number.front().find("/") >= 0)
            return TagFamily::fullText(file, field);
        return number.front() + "/" + total.front();
    }

    void setFullText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        TagLib::Ogg::XiphComment* xiph = xiphOf(file, true);
        const int slash = value.find("/");
        if (!xiph || field != Field::Track || !hasField(xiph, "TRACKTOTAL") || slash < 0) {
            setText(file, field, value);
            return;
        }
        replaceField(xiph, "TRACKNUMBER", valuesToStore(field, value.substr(0, unsigned(slash))));
        replaceField(xiph, "TRACKTOTAL",
                     valuesToStore(field, value.substr(static_cast<unsigned int>(slash) + 1)));
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        TagLib::Ogg::XiphComment* xiph = xiphOf(file, true);
        if (!xiph)
            return;
        if (field == Field::Year) {
            xiph->setYear(value);
            return;
        }
        // TRACKTOTAL, where the file keeps the total apart, is another field and stays.
        const TagLib::StringList stored = valuesOf(xiph, "TRACKNUMBER");
        replaceField(
            xiph, "TRACKNUMBER",
            valuesToStore(field, withTrackNumber(
                                     stored.isEmpty() ? TagLib::String() : stored.front(), value)));
    }

    void strip(TagLib::File& file) const override
    {
        if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(&file)) {
            flac->strip(TagLib::FLAC::File::ID3v1 | TagLib::FLAC::File::ID3v2);
            if (auto* xiph = flac->xiphComment(false)) {
                xiph->removeAllFields();
                xiph->removeAllPictures();
            }
            flac->removePictures();
            return;
        }
        if (auto* xiph = xiphOf(file, false)) {
            xiph->removeAllFields();
            xiph->removeAllPictures();
        }
    }
};

} // namespace

const TagFamily& xiphFamily()
{
    static const XiphFamily family;
    return family;
}

} // namespace tagwrapper
