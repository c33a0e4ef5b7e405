// ID3 and MPEG: ID3v2 frames hold the fields; ID3v1 and APE tags of the same file are kept in
// step with them, and the save writes the tag types the caller asks for.
#include "familyguards.h"
#include "tagfamily.h"

#include <taglib/apetag.h>
#include <taglib/audioproperties.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tagwrapper {
namespace {

// --- Input guards -------------------------------------------------------------------------------

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

} // namespace

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

// The frames of an ID3v2.3 or 2.4 tag at `pos`, walked as TagLib does; compressed frames
// must not inflate beyond kMaxId3v2Inflated together.
bool id3v2TagPasses(const Reader& r, std::uint64_t pos)
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

// TagLib takes the first ID3v2 tag of an MPEG file even after leading junk, as long as it
// comes before the first audio frame.
bool mpegPasses(const Reader& r)
{
    if (!id3v2TagPasses(r, 0))
        return false;
    unsigned char head[3];
    if (r.read(0, head, sizeof head) && std::memcmp(head, "ID3", 3) == 0)
        return true;
    const std::int64_t tag = r.find("ID3", 0, firstMpegFrame(r));
    return tag < 0 || id3v2TagPasses(r, static_cast<std::uint64_t>(tag));
}

namespace {

// --- Fields -------------------------------------------------------------------------------------

const char* frameIdOf(Field field)
{
    switch (field) {
    case Field::Title:
        return "TIT2";
    case Field::Artist:
        return "TPE1";
    case Field::Album:
        return "TALB";
    case Field::Track:
        return "TRCK";
    case Field::Year:
        return "TDRC";
    case Field::Genre:
        return "TCON";
    case Field::Comment:
        return "COMM";
    case Field::Copyright:
        return "TCOP";
    case Field::Bpm:
        return "TBPM";
    case Field::Key:
        return "TKEY";
    }
    return "";
}

// Fields TagLib also keeps in ID3v1 and APE tags; a change is made there too, so that neither
// brings the old value back when the tags are merged on save.
bool isSharedField(Field field)
{
    return field == Field::Title || field == Field::Artist || field == Field::Album ||
           field == Field::Genre || field == Field::Comment;
}

const TagLib::ID3v2::FrameList* framesOf(const TagLib::ID3v2::Tag* tag, const char* id)
{
    if (!tag)
        return nullptr;
    const auto& map = tag->frameListMap();
    const auto it = map.find(id);
    return it == map.end() || it->second.isEmpty() ? nullptr : &it->second;
}

// The comment shown is the one without a description, as TagLib's own comment() chooses it;
// described ones (iTunNORM, MusicMatch notes...) are other programs' data.
TagLib::ID3v2::CommentsFrame* shownComment(const TagLib::ID3v2::Tag* tag)
{
    const TagLib::ID3v2::FrameList* frames = framesOf(tag, "COMM");
    if (!frames)
        return nullptr;
    for (TagLib::ID3v2::Frame* frame : *frames) {
        auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
        if (comment && comment->description().isEmpty())
            return comment;
    }
    return dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frames->front());
}

// A genre stored as an ID3v1 genre number ("17", or "(17)" in older tags) is shown by name.
TagLib::String genreName(const TagLib::String& value)
{
    TagLib::String number = value;
    if (number.startsWith("(") && number.find(")") == static_cast<int>(number.size()) - 1)
        number = number.substr(1, number.size() - 2);
    bool ok = false;
    const int index = number.toInt(&ok);
    if (!ok || number.isEmpty() || index < 0 || index > 255)
        return value;
    const TagLib::String name = TagLib::ID3v1::genre(index);
    return name.isEmpty() ? value : name;
}

TagLib::String frameText(TagLib::ID3v2::Frame* frame, Field field)
{
    auto* textFrame = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame);
    if (!textFrame)
        return frame->toString();
    TagLib::StringList values = textFrame->fieldList();
    if (field == Field::Genre) {
        for (auto& value : values)
            value = genreName(value);
    }
    return joinedValues(values);
}

// What the ID3v2 tag alone holds for a text field.
TagLib::String id3v2Text(const TagLib::ID3v2::Tag* tag, Field field)
{
    if (field == Field::Comment) {
        const TagLib::ID3v2::CommentsFrame* comment = shownComment(tag);
        return comment ? comment->text() : TagLib::String();
    }
    const TagLib::ID3v2::FrameList* frames = framesOf(tag, frameIdOf(field));
    return frames ? frameText(frames->front(), field) : TagLib::String();
}

TagLib::String firstValue(const TagLib::ID3v2::Tag* tag, const char* id)
{
    const TagLib::ID3v2::FrameList* frames = framesOf(tag, id);
    if (!frames)
        return TagLib::String();
    auto* textFrame = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frames->front());
    if (!textFrame || textFrame->fieldList().isEmpty())
        return frames->front()->toString();
    return textFrame->fieldList().front();
}

TagLib::String::Type g_newFrameEncoding = TagLib::String::UTF8;

TagLib::String::Type newTextEncoding()
{
    return g_newFrameEncoding;
}

void setTextFrame(TagLib::ID3v2::Tag* tag, const char* id, const TagLib::String& value)
{
    tag->removeFrames(id);
    if (value.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, newTextEncoding());
    frame->setText(value);
    tag->addFrame(frame);
}

// Replaces the comment without a description only; described comments stay.
void setComment(TagLib::ID3v2::Tag* tag, const TagLib::String& value)
{
    TagLib::ByteVector language("eng");
    if (const TagLib::ID3v2::FrameList* frames = framesOf(tag, "COMM")) {
        const TagLib::ID3v2::FrameList copy = *frames;
        for (TagLib::ID3v2::Frame* frame : copy) {
            auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
            if (comment && comment->description().isEmpty()) {
                language = comment->language();
                tag->removeFrame(comment);
            }
        }
    }
    if (value.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::CommentsFrame(newTextEncoding());
    frame->setLanguage(language);
    frame->setText(value);
    tag->addFrame(frame);
}

// The other tags of an MPEG file that TagLib reads a field from when ID3v2 lacks it.
template <typename Apply> void forOtherTags(TagLib::MPEG::File& file, Apply apply)
{
    if (TagLib::Tag* v1 = file.ID3v1Tag(false))
        apply(v1);
    if (TagLib::Tag* ape = file.APETag(false))
        apply(ape);
}

class Id3Family : public TagFamily
{
public:
    bool handles(TagLib::File& file) const override
    {
        return dynamic_cast<TagLib::MPEG::File*>(&file) != nullptr;
    }

    TagLib::String text(TagLib::File& file, Field field) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        const TagLib::String own = id3v2Text(mpeg.ID3v2Tag(false), field);
        if (!own.isEmpty() || !isSharedField(field))
            return own;
        return genericText(file.tag(), field);
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        if (field == Field::Comment)
            setComment(mpeg.ID3v2Tag(true), value);
        else
            setTextFrame(mpeg.ID3v2Tag(true), frameIdOf(field), value);
        if (isSharedField(field))
            forOtherTags(mpeg, [&](TagLib::Tag* tag) { setGenericText(tag, field, value); });
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag(true);
        if (field == Field::Track)
            setTextFrame(tag, "TRCK", withTrackNumber(firstValue(tag, "TRCK"), value));
        else
            tag->setYear(value);
        forOtherTags(mpeg, [&](TagLib::Tag* other) { setGenericNumber(other, field, value); });
    }

    // MPEG tags are stripped by the save itself.
    void strip(TagLib::File&) const override {}

    bool write(TagLib::File& file, const SaveRequest& request) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        if (request.strip)
            return mpeg.strip(TagLib::MPEG::File::AllTags);
        // TagLib's default would copy ID3v2 into a new ID3v1 tag: the file keeps its types.
        if (request.mpegTags == 0)
            return mpeg.save(TagLib::MPEG::File::AllTags, TagLib::MPEG::File::StripNone,
                             TagLib::ID3v2::v4, TagLib::MPEG::File::DoNotDuplicate);
        // An APE tag about to be dropped still lends ID3v2 the fields it lacks.
        if (!(request.mpegTags & TagLib::MPEG::File::APE) &&
            (request.mpegTags & TagLib::MPEG::File::ID3v2) && mpeg.APETag(false))
            TagLib::Tag::duplicate(mpeg.APETag(false), mpeg.ID3v2Tag(true), false);
        return mpeg.save(request.mpegTags, TagLib::MPEG::File::StripOthers, TagLib::ID3v2::v4,
                         TagLib::MPEG::File::Duplicate);
    }

    // Each tag type written is compared on its own; TagLib keeps tags it stripped from the
    // file in memory. ID3v1 is left out: it holds 30 bytes of Latin-1 per field by design.
    bool readsBack(TagLib::File& memory, TagLib::File& disk,
                   const SaveRequest& request) const override
    {
        auto& before = static_cast<TagLib::MPEG::File&>(memory);
        auto& after = static_cast<TagLib::MPEG::File&>(disk);
        if (request.strip)
            return !after.hasID3v1Tag() && !after.hasID3v2Tag() && !after.hasAPETag();
        const bool all = request.mpegTags == 0;
        if ((all || (request.mpegTags & TagLib::MPEG::File::ID3v2)) &&
            !(id3v2Values(before.ID3v2Tag(false)) == id3v2Values(after.ID3v2Tag(false))))
            return false;
        if (all || (request.mpegTags & TagLib::MPEG::File::APE))
            return sameGenericFields(before.APETag(false), after.APETag(false));
        return true;
    }

    // TagLib calls an MPEG file without a single audio frame valid (empty, garbage, a cut-off
    // header), and a save would then grow a tag into that garbage; it leaves the sample rate
    // at 0 for such a file.
    bool holdsAudio(TagLib::File& file) const override
    {
        const TagLib::AudioProperties* properties = file.audioProperties();
        return properties && properties->sampleRate() > 0;
    }

private:
    static FieldValues id3v2Values(TagLib::ID3v2::Tag* tag)
    {
        FieldValues values;
        for (std::size_t i = 0; i < sizeof kTextFields / sizeof kTextFields[0]; ++i)
            values.texts[i] = id3v2Text(tag, kTextFields[i]);
        if (tag) {
            values.numbers[0] = tag->track();
            values.numbers[1] = tag->year();
        }
        return values;
    }

    static bool sameGenericFields(TagLib::Tag* a, TagLib::Tag* b)
    {
        const auto fields = [](TagLib::Tag* tag) {
            TagLib::StringList texts;
            for (Field field :
                 {Field::Title, Field::Artist, Field::Album, Field::Genre, Field::Comment})
                texts.append(genericText(tag, field));
            texts.append(TagLib::String::number(tag ? static_cast<int>(tag->track()) : 0));
            texts.append(TagLib::String::number(tag ? static_cast<int>(tag->year()) : 0));
            return texts;
        };
        return fields(a) == fields(b);
    }
};

} // namespace

void setId3v2TextEncoding(TagLib::String::Type encoding)
{
    g_newFrameEncoding = encoding;
}

const TagFamily& id3Family()
{
    static const Id3Family family;
    return family;
}

} // namespace tagwrapper
