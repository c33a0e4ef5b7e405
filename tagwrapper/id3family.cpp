// ID3 and MPEG: ID3v2 frames hold the fields; ID3v1 and APE tags of the same file are kept in
// step with them, and the save writes the tag types the caller asks for.
#include "familyguards.h"
#include "id3v2frames.h"
#include "tagfamily.h"

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/audioproperties.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/unknownframe.h>
#include <taglib/wavfile.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
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

bool isChunkName(const unsigned char* name)
{
    return std::all_of(name, name + 4, [](unsigned char c) { return c >= 32 && c <= 127; });
}

// Where the chunk after the one ending at `end` begins: TagLib skips a pad byte that is zero
// or followed by a valid chunk name.
std::uint64_t afterPadding(const Reader& r, std::uint64_t end)
{
    unsigned char next[5];
    if (!(end & 1) || !r.read(end, next, 1))
        return end;
    if (next[0] == 0 || (r.read(end, next, sizeof next) && isChunkName(next + 1)))
        return end + 1;
    return end;
}

} // namespace

// TagLib 1.13 parses the first chunk named "ID3 " (or "id3 " in a WAV file) as an ID3v2 tag,
// with its compressed frames; its chunks are walked here as TagLib walks them.
bool riffPasses(const Reader& r)
{
    unsigned char head[4];
    if (!r.read(0, head, sizeof head))
        return true;
    const bool bigEndian = std::memcmp(head, "FORM", 4) == 0;
    std::uint64_t offset = 12;
    unsigned char chunk[8];
    while (offset + 8 <= r.size() && r.read(offset, chunk, sizeof chunk) && isChunkName(chunk)) {
        const std::uint64_t size = bigEndian ? bigEndian32(chunk + 4) : littleEndian32(chunk + 4);
        if (offset + 8 + size > r.size())
            break;
        if ((std::memcmp(chunk, "ID3 ", 4) == 0 || std::memcmp(chunk, "id3 ", 4) == 0) &&
            !id3v2TagPasses(r, offset + 8))
            return false;
        offset = afterPadding(r, offset + 8 + size);
    }
    return true;
}

namespace {

// --- Fields -------------------------------------------------------------------------------------

const char* frameIdOf(Field field)
{
    return rowOf(field).id3v2Frame;
}

// Fields TagLib also keeps in ID3v1 and APE tags; a change is made there too, so that neither
// brings the old value back when the tags are merged on save.
bool isSharedField(Field field)
{
    return rowOf(field).genericGet != nullptr;
}

const TagLib::ID3v2::FrameList* framesOf(const TagLib::ID3v2::Tag* tag, const char* id)
{
    if (!tag)
        return nullptr;
    const auto& map = tag->frameListMap();
    const auto it = map.find(id);
    return it == map.end() || it->second.isEmpty() ? nullptr : &it->second;
}

// The comment is the one without a description; described ones (iTunNORM, iTunSMPB,
// MusicMatch notes...) are other programs' data, never shown as the comment (TagLib's own
// comment() falls back to them) and never touched.
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
    return nullptr;
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
    if (field != Field::Genre)
        return joinedValues(textFrame->fieldList());
    // A 2.3 genre "(17)Rock" reads as the number and its name; the name shows once.
    TagLib::StringList names;
    for (const TagLib::String& value : textFrame->fieldList()) {
        const TagLib::String name = genreName(value);
        if (names.isEmpty() || names.back() != name)
            names.append(name);
    }
    return joinedValues(names);
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

// Several values go into one frame as several strings, which a 2.3 tag holds as well.
void setTextFrame(TagLib::ID3v2::Tag* tag, const char* id, const TagLib::StringList& values)
{
    tag->removeFrames(id);
    if (values.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(id, newTextEncoding());
    frame->setText(values);
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

// The item of an APE tag that holds the field, as TagLib's own setters name it.
TagLib::String apeItemOf(Field field)
{
    return TagLib::String(rowOf(field).apeItem).upper();
}

// The other tags the file holds, which TagLib reads a field from when ID3v2 lacks it, so that
// none of them keeps an old value. TagLib keeps an empty ID3v1 tag in memory for every MPEG
// file, which is no tag of the file's; an APE tag without the item shows no old value and
// gets no new item.
template <typename Apply> void forOtherTags(TagLib::MPEG::File& file, Field field, Apply apply)
{
    if (file.hasID3v1Tag())
        apply(file.ID3v1Tag(false));
    if (file.hasAPETag() && file.APETag(false)->itemListMap().contains(apeItemOf(field)))
        apply(file.APETag(false));
}

// ID3v1 holds one text per field; an APE tag several values of one item.
void setOtherTagText(TagLib::Tag* tag, Field field, const TagLib::String& value)
{
    auto* ape = dynamic_cast<TagLib::APE::Tag*>(tag);
    if (!ape) {
        setGenericText(tag, field, value);
        return;
    }
    ape->removeItem(apeItemOf(field));
    for (const TagLib::String& part : valuesToStore(field, value))
        ape->addValue(apeItemOf(field), part, false);
}

// The tag types the file holds besides ID3v2; a save keeps them, and adds none.
int otherTagTypes(TagLib::MPEG::File& file)
{
    return (file.hasID3v1Tag() ? TagLib::MPEG::File::ID3v1 : 0) |
           (file.hasAPETag() ? TagLib::MPEG::File::APE : 0);
}

// The text of a 2.2 frame TagLib keeps only as bytes (TDA, TIM); empty without one.
TagLib::String storedText(const TagLib::ID3v2::Tag& tag, const char* id)
{
    const TagLib::ID3v2::FrameList* frames = framesOf(&tag, id);
    const auto* frame =
        frames ? dynamic_cast<TagLib::ID3v2::UnknownFrame*>(frames->front()) : nullptr;
    const TagLib::ByteVector data = frame ? frame->data() : TagLib::ByteVector();
    if (data.size() < 2 || static_cast<unsigned char>(data[0]) > 3)
        return TagLib::String();
    return TagLib::String(data.mid(1), static_cast<TagLib::String::Type>(data[0]));
}

// The day and month (TDA, "DDMM") and time (TIM, "HHMM") of a 2.2 tag join its year in TDRC.
void joinDate(TagLib::ID3v2::Tag& tag)
{
    const TagLib::ID3v2::FrameList* years = framesOf(&tag, "TDRC");
    auto* year =
        years ? dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(years->front()) : nullptr;
    const TagLib::String day = storedText(tag, "TDA");
    const TagLib::String time = storedText(tag, "TIM");
    if (!year || year->toString().size() != 4 || day.size() != 4)
        return;
    TagLib::String date = year->toString() + "-" + day.substr(2, 2) + "-" + day.substr(0, 2);
    if (time.size() == 4)
        date += "T" + time.substr(0, 2) + ":" + time.substr(2, 2);
    year->setText(date);
    tag.removeFrames("TDA");
    if (time.size() == 4)
        tag.removeFrames("TIM");
}

// TagLib writes no 2.2, and leaves out the 2.2 frames it has no 2.4 name for: the date joins
// TDRC, and the others take the names 2.3 gave them.
void carryOver22Frames(TagLib::ID3v2::Tag& tag)
{
    joinDate(tag);
    static const char* const renamed[][2] = {{"RVA", "RVAD"}, {"EQU", "EQUA"}, {"TSI", "TSIZ"}};
    for (const auto& names : renamed) {
        const TagLib::ID3v2::FrameList* frames = framesOf(&tag, names[0]);
        if (!frames)
            continue;
        const TagLib::ID3v2::FrameList old = *frames;
        for (TagLib::ID3v2::Frame* frame : old) {
            const auto* unknown = dynamic_cast<TagLib::ID3v2::UnknownFrame*>(frame);
            if (!unknown)
                continue;
            const TagLib::ByteVector body = unknown->data();
            TagLib::ByteVector bytes(names[1]);
            for (int shift = 21; shift >= 0; shift -= 7)
                bytes.append(static_cast<char>((body.size() >> shift) & 0x7f));
            bytes.append(TagLib::ByteVector(2, '\0'));
            tag.addFrame(new TagLib::ID3v2::UnknownFrame(bytes + body));
            tag.removeFrame(frame);
        }
    }
}

// A 2.3 tag's day and time (TDAT "DDMM", TIME "HHMM") join the year in 2.4's one date frame
// (TDRC "YYYY-MM-DDTHH:MM"), which 2.4 has in their place.
void mergeDateFrames(TagLib::ID3v2::Tag& tag, int wantedVersion)
{
    // TagLib keeps 2.3's TDAT and TIME as frames it cannot read: their text is taken from
    // the bytes (an encoding byte, then four digits).
    const auto textOf = [&](const char* id) {
        const TagLib::ID3v2::FrameList frames = tag.frameList(id);
        if (frames.isEmpty())
            return TagLib::String();
        const auto* unknown = dynamic_cast<const TagLib::ID3v2::UnknownFrame*>(frames.front());
        if (!unknown)
            return frames.front()->toString();
        const TagLib::ByteVector body = unknown->data();
        if (body.isEmpty())
            return TagLib::String();
        const TagLib::String::Type type = body[0] == 1   ? TagLib::String::UTF16
                                          : body[0] == 2 ? TagLib::String::UTF16BE
                                                         : TagLib::String::Latin1;
        TagLib::String text(body.mid(1), type);
        return text.substr(0, 4);
    };
    const TagLib::String year = textOf("TDRC");
    const TagLib::String day = textOf("TDAT");
    const TagLib::String time = textOf("TIME");
    if (wantedVersion != 4 || day.isEmpty())
        return;
    if (year.size() == 4 && day.size() == 4) {
        TagLib::String date = year + "-" + day.substr(2, 2) + "-" + day.substr(0, 2);
        if (time.size() == 4)
            date += "T" + time.substr(0, 2) + ":" + time.substr(2, 2);
        tag.removeFrames("TDRC");
        auto* frame = new TagLib::ID3v2::TextIdentificationFrame("TDRC", TagLib::String::Latin1);
        frame->setText(date);
        tag.addFrame(frame);
    }
    tag.removeFrames("TDAT");
    tag.removeFrames("TIME");
}

// Every tag of the file in its own form: the ID3v2 tag keeps its version (TagLib writes no
// 2.2, so that becomes 2.4) and the frames the edit did not touch, ID3v1 and APE stay where
// they are. A file without ID3v2 gets a 2.4 tag.
bool saveEveryTag(TagLib::MPEG::File& file, int wantedVersion)
{
    const int others = otherTagTypes(file);
    constexpr auto keepOthers = TagLib::MPEG::File::StripNone;
    constexpr auto noCopies = TagLib::MPEG::File::DoNotDuplicate;
    TagLib::ID3v2::Tag* id3 = file.ID3v2Tag(true);
    if (!file.hasID3v2Tag())
        return file.save(others | TagLib::MPEG::File::ID3v2, keepOthers, TagLib::ID3v2::v4,
                         noCopies);
    const unsigned int storedSize = id3->header()->completeTagSize();
    const bool converting =
        wantedVersion != 0 && static_cast<int>(id3->header()->majorVersion()) != wantedVersion;
    if (converting) {
        mergeDateFrames(*id3, wantedVersion);
        const auto version = wantedVersion == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
        return file.save(others | TagLib::MPEG::File::ID3v2, keepOthers, version, noCopies);
    }
    TagLib::ByteVector rendered;
    if (renderKeepingStoredFrames(file, *id3, rendered)) {
        // The tags at the end first: the new ID3v2 tag moves every offset TagLib keeps.
        if (!file.save(others, keepOthers, TagLib::ID3v2::v4, noCopies))
            return false;
        file.insert(rendered, 0, storedSize);
        return true;
    }
    if (id3->header()->majorVersion() == 2)
        carryOver22Frames(*id3);
    const auto version = id3->header()->majorVersion() == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
    return file.save(others | TagLib::MPEG::File::ID3v2, keepOthers, version, noCopies);
}

// A 2.3 tag keeps its date in TDAT and TIME beside TYER; TagLib knows them only as frames it
// cannot read, so a new year takes them out itself.
void setYear(TagLib::ID3v2::Tag* tag, unsigned int year)
{
    tag->removeFrames("TDAT");
    tag->removeFrames("TIME");
    tag->setYear(year);
}

// The save option the program passes: every tag the file has, each in its own form.
constexpr int kEveryTag = TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::ID3v2;

class Id3Family : public TagFamily
{
public:
    const std::vector<FileKind>& kinds() const override
    {
        static const std::vector<FileKind> kinds = {
            {"MP3", mpegPasses, TagLib_File_MPEG,
             [](TagLib::IOStream* stream) -> TagLib::File* {
                 return new TagLib::MPEG::File(stream, TagLib::ID3v2::FrameFactory::instance(),
                                               true, TagLib::AudioProperties::Average);
             }},
            {"MP2", mpegPasses},
            {"AAC", mpegPasses},
        };
        return kinds;
    }

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
        // What ID3v2 lacks, the file's other tags may hold (not TagLib's merged view, which
        // would show a described comment).
        TagLib::String other;
        forOtherTags(mpeg, field, [&](TagLib::Tag* tag) {
            if (other.isEmpty())
                other = genericText(tag, field);
        });
        return other;
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        if (field == Field::Comment)
            setComment(mpeg.ID3v2Tag(true), value);
        else
            setTextFrame(mpeg.ID3v2Tag(true), frameIdOf(field), valuesToStore(field, value));
        if (isSharedField(field))
            forOtherTags(mpeg, field,
                         [&](TagLib::Tag* tag) { setOtherTagText(tag, field, value); });
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag(true);
        if (field == Field::Track)
            setTextFrame(tag, "TRCK",
                         valuesToStore(field, withTrackNumber(firstValue(tag, "TRCK"), value)));
        else
            setYear(tag, value);
        forOtherTags(mpeg, field,
                     [&](TagLib::Tag* other) { setGenericNumber(other, field, value); });
    }

    // The full form goes into TRCK or TDRC (a 2.3 tag is written with TYER and TDAT from it),
    // into an APE tag's item where it has one, and as a number into ID3v1.
    void setFullText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag(true);
        if (field == Field::Year) {
            tag->removeFrames("TDAT");
            tag->removeFrames("TIME");
        }
        setTextFrame(tag, frameIdOf(field), valuesToStore(field, value));
        forOtherTags(mpeg, field, [&](TagLib::Tag* other) {
            if (dynamic_cast<TagLib::APE::Tag*>(other))
                setOtherTagText(other, field, value);
            else
                setGenericNumber(other, field, leadingNumber(value));
        });
    }

    // MPEG tags are stripped by the save itself.
    void strip(TagLib::File&) const override {}

    bool write(TagLib::File& file, const SaveRequest& request) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        if (request.strip)
            return mpeg.strip(TagLib::MPEG::File::AllTags);
        if (request.mpegTags == 0 || request.mpegTags == kEveryTag)
            return saveEveryTag(mpeg, request.id3v2Version);
        // An APE tag about to be dropped still lends ID3v2 the fields it lacks.
        if (!(request.mpegTags & TagLib::MPEG::File::APE) &&
            (request.mpegTags & TagLib::MPEG::File::ID3v2) && mpeg.APETag(false))
            TagLib::Tag::duplicate(mpeg.APETag(false), mpeg.ID3v2Tag(true), false);
        return mpeg.save(request.mpegTags, TagLib::MPEG::File::StripOthers, TagLib::ID3v2::v4,
                         TagLib::MPEG::File::Duplicate);
    }

    // Frames after one TagLib stops at are read here, and kept as stored by the save.
    bool readInFull(TagLib::File& file, const Reader&) const override
    {
        auto& mpeg = static_cast<TagLib::MPEG::File&>(file);
        if (mpeg.hasID3v2Tag())
            readFramesAfterStop(file, *mpeg.ID3v2Tag());
        return true;
    }

    TagLib::File* reopened(TagLib::IOStream& stream) const override
    {
        return new TagLib::MPEG::File(&stream, TagLib::ID3v2::FrameFactory::instance(), true,
                                      TagLib::AudioProperties::Average);
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
        const bool all = request.mpegTags == 0 || request.mpegTags == kEveryTag;
        if ((all || (request.mpegTags & TagLib::MPEG::File::ID3v2)) &&
            !(id3v2Values(before.ID3v2Tag(false)) == id3v2Values(after.ID3v2Tag(false))))
            return false;
        if (all || (request.mpegTags & TagLib::MPEG::File::APE))
            return sameGenericFields(before.APETag(false), after.APETag(false));
        return true;
    }

    TagLib::ID3v2::Tag* namedItemsTag(TagLib::File& file, bool create) const override
    {
        return static_cast<TagLib::MPEG::File&>(file).ID3v2Tag(create);
    }
    bool keepsNamedItemsInId3v2() const override { return true; }

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
        for (const FieldRow& row : kFieldRows) {
            const auto i = static_cast<std::size_t>(row.field);
            if (!row.number)
                values.texts[i] = id3v2Text(tag, row.field);
        }
        if (tag) {
            values.numbers[static_cast<std::size_t>(Field::Track)] = tag->track();
            values.numbers[static_cast<std::size_t>(Field::Year)] = tag->year();
        }
        return values;
    }

    static bool sameGenericFields(TagLib::Tag* a, TagLib::Tag* b)
    {
        const auto fields = [](TagLib::Tag* tag) {
            TagLib::StringList texts;
            for (const FieldRow& row : kFieldRows) {
                if (row.genericGet)
                    texts.append(genericText(tag, row.field));
            }
            texts.append(TagLib::String::number(tag ? static_cast<int>(tag->track()) : 0));
            texts.append(TagLib::String::number(tag ? static_cast<int>(tag->year()) : 0));
            return texts;
        };
        return fields(a) == fields(b);
    }
};

// --- WAV, AIFF and TrueAudio ----------------------------------------------------------------

// The version a tag is written in: the one asked for, else its own (TagLib writes no 2.2).
TagLib::ID3v2::Version versionToWrite(TagLib::ID3v2::Tag& tag, int wanted)
{
    if (wanted != 0 && static_cast<int>(tag.header()->majorVersion()) != wanted)
        mergeDateFrames(tag, wanted);
    const int version = wanted != 0 ? wanted : static_cast<int>(tag.header()->majorVersion());
    if (version == 2)
        carryOver22Frames(tag);
    return version == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4;
}

// The data offset and size of the first chunk named "ID3 " or "id3 " after a RIFF or AIFF
// file's 12-byte header; false without one.
bool findId3Chunk(TagLib::File& file, bool bigEndian, long& at, unsigned int& size)
{
    for (long offset = 12; offset + 8 <= file.length();) {
        file.seek(offset);
        const TagLib::ByteVector header = file.readBlock(8);
        if (header.size() != 8)
            return false;
        size = header.toUInt(4, bigEndian);
        if (header.startsWith("ID3 ") || header.startsWith("id3 ")) {
            at = offset + 8;
            return true;
        }
        offset += 8 + static_cast<long>(size) + static_cast<long>(size & 1);
    }
    return false;
}

// Puts `data` in place of the chunk data of `size` bytes at `at` (and its pad byte), with the
// chunk's and the file's sizes set to match.
void replaceChunkData(TagLib::File& file, long at, unsigned int size,
                      const TagLib::ByteVector& data, bool bigEndian)
{
    const bool padded = (size & 1) && at + static_cast<long>(size) < file.length();
    TagLib::ByteVector even = data;
    if (even.size() & 1)
        even.append('\0');
    file.insert(even, at, size + (padded ? 1 : 0));
    file.seek(at - 4);
    file.writeBlock(TagLib::ByteVector::fromUInt(data.size(), bigEndian));
    file.seek(4);
    file.writeBlock(
        TagLib::ByteVector::fromUInt(static_cast<unsigned int>(file.length() - 8), bigEndian));
}

// A WAV or AIFF file's ID3v2 chunk written with the frames the edit did not touch as stored.
bool writeChunkKeepingStoredFrames(TagLib::File& file, const TagLib::ID3v2::Tag& tag,
                                   bool bigEndian)
{
    long at = 0;
    unsigned int size = 0;
    TagLib::ByteVector rendered;
    if (!findId3Chunk(file, bigEndian, at, size) ||
        !renderKeepingStoredFrames(file, tag, rendered, at) || rendered.isEmpty())
        return false;
    replaceChunkData(file, at, size, rendered, bigEndian);
    return true;
}

// How each TagLib class holds its ID3v2 tag, writes it keeping the frames the edit did not
// touch as stored, and saves it through TagLib otherwise, everything else kept. TagLib's offsets
// are stale after a write of ours, so the saved file is always parsed anew.
struct WavHost
{
    using File = TagLib::RIFF::WAV::File;
    static TagLib::ID3v2::Tag* tag(File& file) { return file.ID3v2Tag(); }
    static void clearOthers(File& file) { file.InfoTag()->setProperties(TagLib::PropertyMap()); }
    static bool writeKeepingStoredFrames(File& file)
    {
        return file.hasID3v2Tag() && writeChunkKeepingStoredFrames(file, *tag(file), false);
    }
    static bool save(File& file, TagLib::ID3v2::Version version, bool everyTag)
    {
        return file.save(everyTag ? File::AllTags : File::ID3v2, TagLib::File::StripNone, version);
    }
    static TagLib::File* reopened(TagLib::IOStream& stream)
    {
        return new File(&stream, true, TagLib::AudioProperties::Average);
    }
};

struct AiffHost
{
    using File = TagLib::RIFF::AIFF::File;
    static TagLib::ID3v2::Tag* tag(File& file) { return file.tag(); }
    static void clearOthers(File&) {}
    static bool writeKeepingStoredFrames(File& file)
    {
        return file.hasID3v2Tag() && writeChunkKeepingStoredFrames(file, *tag(file), true);
    }
    static bool save(File& file, TagLib::ID3v2::Version version, bool)
    {
        return file.save(version);
    }
    static TagLib::File* reopened(TagLib::IOStream& stream)
    {
        return new File(&stream, true, TagLib::AudioProperties::Average);
    }
};

struct TrueAudioHost
{
    using File = TagLib::TrueAudio::File;
    static TagLib::ID3v2::Tag* tag(File& file) { return file.ID3v2Tag(true); }
    static void clearOthers(File& file)
    {
        for (Field field :
             {Field::Title, Field::Artist, Field::Album, Field::Genre, Field::Comment})
            setGenericText(file.ID3v1Tag(false), field, TagLib::String());
        setGenericNumber(file.ID3v1Tag(false), Field::Track, 0);
        setGenericNumber(file.ID3v1Tag(false), Field::Year, 0);
    }
    // TagLib looks for the tag at the very start only.
    static bool writeKeepingStoredFrames(File& file)
    {
        TagLib::ByteVector rendered;
        if (!file.hasID3v2Tag() || !renderKeepingStoredFrames(file, *tag(file), rendered, 0) ||
            rendered.isEmpty())
            return false;
        file.insert(rendered, 0, tag(file)->header()->completeTagSize());
        return true;
    }
    // TagLib 1.13 writes a TrueAudio file's ID3v2 tag in 2.4 only.
    static bool save(File& file, TagLib::ID3v2::Version version, bool everyTag)
    {
        if (everyTag)
            return file.save();
        TagLib::ID3v2::Tag* own = tag(file);
        const unsigned long stored = file.hasID3v2Tag() ? own->header()->completeTagSize() : 0;
        if (own->isEmpty())
            file.removeBlock(0, stored);
        else
            file.insert(own->render(version), 0, stored);
        return true;
    }
    static TagLib::File* reopened(TagLib::IOStream& stream)
    {
        return new File(&stream, TagLib::ID3v2::FrameFactory::instance(), true,
                        TagLib::AudioProperties::Average);
    }
};

// A file whose own ID3v2 tag (in a chunk, or at the start) holds the fields as an MPEG file's
// does. A WAV file's RIFF INFO chunk and a TrueAudio file's ID3v1 tag stay as they are stored;
// removing the tags empties them too.
template <typename Host> class Id3v2HostFamily : public TagFamily
{
public:
    explicit Id3v2HostFamily(std::vector<FileKind> kinds) : m_kinds(std::move(kinds)) {}

    const std::vector<FileKind>& kinds() const override { return m_kinds; }

    bool handles(TagLib::File& file) const override
    {
        return dynamic_cast<typename Host::File*>(&file) != nullptr;
    }

    TagLib::String text(TagLib::File& file, Field field) const override
    {
        return id3v2Text(tagOf(file), field);
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        if (field == Field::Comment)
            setComment(tagOf(file), value);
        else
            setTextFrame(tagOf(file), frameIdOf(field), valuesToStore(field, value));
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        TagLib::ID3v2::Tag* tag = tagOf(file);
        if (field == Field::Track)
            setTextFrame(tag, "TRCK",
                         valuesToStore(field, withTrackNumber(firstValue(tag, "TRCK"), value)));
        else
            setYear(tag, value);
    }

    void setFullText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        TagLib::ID3v2::Tag* tag = tagOf(file);
        if (field == Field::Year) {
            tag->removeFrames("TDAT");
            tag->removeFrames("TIME");
        }
        setTextFrame(tag, frameIdOf(field), valuesToStore(field, value));
    }

    void strip(TagLib::File& file) const override
    {
        TagLib::ID3v2::Tag* tag = tagOf(file);
        while (!tag->frameList().isEmpty())
            tag->removeFrame(tag->frameList().front());
        Host::clearOthers(hostOf(file));
    }

    bool write(TagLib::File& file, const SaveRequest& request) const override
    {
        TagLib::ID3v2::Tag& tag = *tagOf(file);
        const bool ownVersion =
            request.id3v2Version == 0 ||
            request.id3v2Version == static_cast<int>(tag.header()->majorVersion());
        if (!request.strip && ownVersion && Host::writeKeepingStoredFrames(hostOf(file)))
            return true;
        return Host::save(hostOf(file), versionToWrite(tag, request.id3v2Version), request.strip);
    }

    TagLib::File* reopened(TagLib::IOStream& stream) const override
    {
        return Host::reopened(stream);
    }

    TagLib::ID3v2::Tag* namedItemsTag(TagLib::File& file, bool) const override
    {
        return tagOf(file);
    }
    bool keepsNamedItemsInId3v2() const override { return true; }

private:
    static typename Host::File& hostOf(TagLib::File& file)
    {
        return static_cast<typename Host::File&>(file);
    }
    static TagLib::ID3v2::Tag* tagOf(TagLib::File& file) { return Host::tag(hostOf(file)); }

    const std::vector<FileKind> m_kinds;
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

const TagFamily& wavFamily()
{
    static const Id3v2HostFamily<WavHost> family({{"WAV", riffPasses}});
    return family;
}

const TagFamily& aiffFamily()
{
    static const Id3v2HostFamily<AiffHost> family(
        {{"AIF", riffPasses}, {"AIFF", riffPasses}, {"AFC", riffPasses}, {"AIFC", riffPasses}});
    return family;
}

// TagLib 1.13 parses the ID3v2 tag at the start of a TrueAudio file.
const TagFamily& trueAudioFamily()
{
    static const Id3v2HostFamily<TrueAudioHost> family(
        {{"TTA", [](const Reader& r) { return id3v2TagPasses(r, 0); }, TagLib_File_TrueAudio,
          [](TagLib::IOStream* stream) -> TagLib::File* {
              return new TagLib::TrueAudio::File(stream, TagLib::ID3v2::FrameFactory::instance(),
                                                 true, TagLib::AudioProperties::Average);
          }}});
    return family;
}

} // namespace tagwrapper
