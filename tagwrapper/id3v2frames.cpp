#include "id3v2frames.h"

#include <taglib/id3v2frame.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>
#include <taglib/tstringlist.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

namespace tagwrapper {
namespace {

constexpr unsigned int kHeaderSize = 10;
// Room left for later edits when a tag outgrows the one stored, as TagLib leaves it.
constexpr unsigned int kPadding = 1024;

struct StoredFrame
{
    TagLib::ByteVector id;
    TagLib::ByteVector bytes; // header and body, as in the file
    const TagLib::ID3v2::Frame* parsed = nullptr;
    bool stillThere = false;
};

unsigned int bigEndian(const TagLib::ByteVector& data, unsigned int at)
{
    return static_cast<unsigned int>(static_cast<unsigned char>(data[at])) << 24 |
           static_cast<unsigned int>(static_cast<unsigned char>(data[at + 1])) << 16 |
           static_cast<unsigned int>(static_cast<unsigned char>(data[at + 2])) << 8 |
           static_cast<unsigned int>(static_cast<unsigned char>(data[at + 3]));
}

bool synchsafe(const TagLib::ByteVector& data, unsigned int at)
{
    return ((data[at] | data[at + 1] | data[at + 2] | data[at + 3]) & 0x80) == 0;
}

unsigned int synchsafeValue(const TagLib::ByteVector& data, unsigned int at)
{
    const unsigned int plain = bigEndian(data, at);
    return (plain & 0x7f) | (plain & 0x7f00) >> 1 | (plain & 0x7f0000) >> 2 |
           (plain & 0x7f000000) >> 3;
}

TagLib::ByteVector synchsafeBytes(unsigned int value)
{
    TagLib::ByteVector bytes(4, '\0');
    for (int i = 3; i >= 0; --i) {
        bytes[i] = static_cast<char>(value & 0x7f);
        value >>= 7;
    }
    return bytes;
}

bool isFrameId(const TagLib::ByteVector& id)
{
    for (char c : id) {
        if ((c < 'A' || c > 'Z') && (c < '0' || c > '9'))
            return false;
    }
    return true;
}

// The name TagLib gives a stored frame once parsed.
TagLib::ByteVector parsedId(const TagLib::ByteVector& stored, int version)
{
    if (version == 3 && stored == "TYER")
        return "TDRC";
    if (version == 3 && stored == "TORY")
        return "TDOR";
    if (version == 3 && stored == "IPLS")
        return "TIPL";
    if (version == 4 && stored == "TRDC")
        return "TDRC";
    return stored;
}

// The frames of the stored tag, walked as TagLib walks them; `tail` is what follows the last
// frame up to the padding (a frame TagLib stops at, and all after it).
void walkFrames(const TagLib::ByteVector& tag, int version, std::vector<StoredFrame>& frames,
                TagLib::ByteVector& tail)
{
    unsigned int at = kHeaderSize;
    while (tag.size() - at >= kHeaderSize && tag[at] != 0) {
        const TagLib::ByteVector id = tag.mid(at, 4);
        // iTunes writes 2.4 frame sizes the 2.3 way; TagLib reads those too.
        const unsigned int size = version == 4 && synchsafe(tag, at + 4)
                                      ? synchsafeValue(tag, at + 4)
                                      : bigEndian(tag, at + 4);
        if (!isFrameId(id) || size > tag.size() - at - kHeaderSize)
            break;
        frames.push_back({id, tag.mid(at, kHeaderSize + size)});
        at += kHeaderSize + size;
    }
    unsigned int end = tag.size();
    while (end > at && tag[end - 1] == 0)
        --end;
    tail = tag.mid(at, end - at);
}

// Pairs each frame TagLib parsed with the stored frame it came from, in the order of both.
void pairWithParsed(std::vector<StoredFrame>& frames, const TagLib::ID3v2::Tag& parsed, int version)
{
    std::size_t next = 0;
    for (const TagLib::ID3v2::Frame* frame : parsed.frameList()) {
        for (std::size_t i = next; i < frames.size(); ++i) {
            if (parsedId(frames[i].id, version) == frame->frameID()) {
                frames[i].parsed = frame;
                next = i + 1;
                break;
            }
        }
    }
}

// The stored frame that `frame` still renders as; null for a frame the edit made or changed.
StoredFrame* storedFormOf(TagLib::ID3v2::Frame* frame, std::vector<StoredFrame>& frames)
{
    const TagLib::ByteVector rendered = frame->render();
    for (StoredFrame& stored : frames) {
        if (stored.parsed && !stored.stillThere && stored.parsed->frameID() == frame->frameID() &&
            const_cast<TagLib::ID3v2::Frame*>(stored.parsed)->render() == rendered)
            return &stored;
    }
    return nullptr;
}

// TagLib renders a frame in the version its header names, and lets only its tag set that.
struct FrameVersion : TagLib::ID3v2::Frame
{
    static void set(TagLib::ID3v2::Frame& frame, int version)
    {
        (frame.*(&FrameVersion::header))()->setVersion(static_cast<unsigned int>(version));
    }
};

TagLib::ByteVector renderedTextFrame(const char* id, const TagLib::String& text,
                                     TagLib::String::Type encoding, int version)
{
    TagLib::ID3v2::TextIdentificationFrame frame(id, encoding);
    FrameVersion::set(frame, version);
    frame.setText(text);
    return frame.render();
}

// ID3v2.3 has no TDRC: the date goes into the year, day and month, and time frames.
TagLib::ByteVector dateIn23(const TagLib::ID3v2::Frame& frame)
{
    const auto* text = dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(&frame);
    const TagLib::String date = frame.toString();
    const TagLib::String::Type encoding = text ? text->textEncoding() : TagLib::String::Latin1;
    if (date.size() < 4)
        return TagLib::ByteVector();
    TagLib::ByteVector out = renderedTextFrame("TYER", date.substr(0, 4), encoding, 3);
    if (date.size() >= 10 && date[4] == '-' && date[7] == '-') {
        out.append(renderedTextFrame("TDAT", date.substr(8, 2) + date.substr(5, 2), encoding, 3));
        if (date.size() >= 16 && date[10] == 'T' && date[13] == ':')
            out.append(
                renderedTextFrame("TIME", date.substr(11, 2) + date.substr(14, 2), encoding, 3));
    }
    return out;
}

TagLib::ByteVector renderedFrame(TagLib::ID3v2::Frame* frame, int version)
{
    if (version == 3 && frame->frameID() == "TDRC")
        return dateIn23(*frame);
    FrameVersion::set(*frame, version);
    const TagLib::ByteVector bytes = frame->render();
    // TagLib leaves out a frame with nothing in it as well.
    return bytes.size() > kHeaderSize ? bytes : TagLib::ByteVector();
}

TagLib::ByteVector assembled(const TagLib::ByteVector& body, int version, unsigned int storedSize)
{
    if (body.isEmpty())
        return TagLib::ByteVector();
    // A tag that fits where the stored one was leaves the audio where it is.
    const unsigned int size = body.size() <= storedSize ? storedSize : body.size() + kPadding;
    TagLib::ByteVector tag("ID3");
    tag.append(static_cast<char>(version));
    tag.append('\0');
    tag.append('\0');
    tag.append(synchsafeBytes(size));
    tag.append(body);
    tag.append(TagLib::ByteVector(size - body.size(), '\0'));
    return tag;
}

// The tag stored at `at` in the file, when it has a layout whose frames can be copied as they
// are: version 2.3 or 2.4, not unsynchronised as a whole, no extended header or footer.
bool storedTag(TagLib::File& file, const TagLib::ID3v2::Tag& parsed, TagLib::ByteVector& stored,
               long at = 0)
{
    file.seek(at);
    const TagLib::ByteVector header = file.readBlock(kHeaderSize);
    if (header.size() != kHeaderSize || !header.startsWith("ID3") || !synchsafe(header, 6))
        return false;
    const int version = header[3];
    const unsigned int size = synchsafeValue(header, 6);
    const bool plainLayout = (header[5] & 0xd0) == 0;
    if ((version != 3 && version != 4) || !plainLayout ||
        parsed.header()->completeTagSize() != kHeaderSize + size)
        return false;
    file.seek(at);
    stored = file.readBlock(kHeaderSize + size);
    return stored.size() == kHeaderSize + size;
}

// The stored frames after the last one TagLib read, read one by one as TagLib reads a frame.
void addFramesAfterStop(std::vector<StoredFrame>& frames, TagLib::ID3v2::Tag& tag)
{
    std::size_t first = frames.size();
    while (first > 0 && !frames[first - 1].parsed)
        --first;
    if (first == 0 && !tag.frameList().isEmpty())
        return; // the pairing failed; better nothing than a frame twice
    auto* factory = TagLib::ID3v2::FrameFactory::instance();
    for (std::size_t i = first; i < frames.size(); ++i) {
        std::unique_ptr<TagLib::ID3v2::Frame> frame(
            factory->createFrame(frames[i].bytes, tag.header()));
        if (!frame || frame->size() == 0)
            continue;
        frames[i].parsed = frame.get();
        tag.addFrame(frame.release());
    }
}

// The frames of the stored tag, each paired with the frame of `tag` it was parsed into, frames
// TagLib stopped before added to `tag`.
void readStoredFrames(const TagLib::ByteVector& stored, TagLib::ID3v2::Tag& tag,
                      std::vector<StoredFrame>& frames, TagLib::ByteVector& tail)
{
    const int version = stored[3];
    walkFrames(stored, version, frames, tail);
    pairWithParsed(frames, tag, version);
    addFramesAfterStop(frames, tag);
}

} // namespace

// True when TagLib read frames up to the padding or the end of the tag, as in almost every
// file: the frames it read end where the next byte is 0 or the tag is full.
bool readToTheEnd(TagLib::File& file, const TagLib::ID3v2::Tag& tag)
{
    unsigned int end = kHeaderSize;
    for (const TagLib::ID3v2::Frame* frame : tag.frameList())
        end += frame->size() + kHeaderSize;
    const unsigned int tagEnd = kHeaderSize + tag.header()->tagSize();
    if (end + kHeaderSize > tagEnd)
        return true;
    file.seek(end);
    const TagLib::ByteVector next = file.readBlock(1);
    return next.size() == 1 && next[0] == 0;
}

void readFramesAfterStop(TagLib::File& file, TagLib::ID3v2::Tag& tag)
{
    if (readToTheEnd(file, tag))
        return;
    TagLib::ByteVector stored;
    if (!storedTag(file, tag, stored))
        return;
    std::vector<StoredFrame> frames;
    TagLib::ByteVector tail;
    readStoredFrames(stored, tag, frames, tail);
}

bool renderKeepingStoredFrames(TagLib::File& file, const TagLib::ID3v2::Tag& edited,
                               TagLib::ByteVector& tag, long at)
{
    TagLib::ByteVector stored;
    if (!storedTag(file, edited, stored, at))
        return false;
    const int version = stored[3];
    const unsigned int storedSize = stored.size() - kHeaderSize;
    std::vector<StoredFrame> frames;
    TagLib::ByteVector tail;
    TagLib::ID3v2::Tag parsed(&file, at, TagLib::ID3v2::FrameFactory::instance());
    readStoredFrames(stored, parsed, frames, tail);

    std::vector<TagLib::ID3v2::Frame*> madeOrChanged;
    for (TagLib::ID3v2::Frame* frame : edited.frameList()) {
        if (StoredFrame* same = storedFormOf(frame, frames))
            same->stillThere = true;
        else
            madeOrChanged.push_back(frame);
    }
    TagLib::ByteVector body;
    for (const StoredFrame& frame : frames) {
        // A frame TagLib never read cannot have been edited.
        if (frame.stillThere || !frame.parsed)
            body.append(frame.bytes);
    }
    for (TagLib::ID3v2::Frame* frame : madeOrChanged)
        body.append(renderedFrame(frame, version));
    body.append(tail);
    tag = assembled(body, version, storedSize);
    return true;
}

namespace {

const char* const kOnlyIn24[] = {"ASPI", "EQU2", "RVA2", "SEEK", "SIGN", "TDRL",
                                 "TDTG", "TMOO", "TPRO", "TSOA", "TSOT", "TSST"};
const char* const kOnlyIn23[] = {"EQUA", "RVAD", "TRDA", "TSIZ"};

template <std::size_t N> bool listed(const TagLib::ByteVector& id, const char* const (&ids)[N])
{
    return std::any_of(std::begin(ids), std::end(ids),
                       [&](const char* known) { return id == TagLib::ByteVector(known); });
}

bool lostIn(const TagLib::ID3v2::Frame& frame, int version)
{
    return version == 3 ? listed(frame.frameID(), kOnlyIn24) : listed(frame.frameID(), kOnlyIn23);
}

} // namespace

TagLib::String framesLostIn(const TagLib::ID3v2::Tag& tag, int version)
{
    TagLib::StringList ids;
    for (const TagLib::ID3v2::Frame* frame : tag.frameList()) {
        const TagLib::String id(frame->frameID(), TagLib::String::Latin1);
        if (lostIn(*frame, version) && !ids.contains(id))
            ids.append(id);
    }
    return ids.toString(", ");
}

void dropFramesLostIn(TagLib::ID3v2::Tag& tag, int version)
{
    std::vector<TagLib::ID3v2::Frame*> lost;
    for (TagLib::ID3v2::Frame* frame : tag.frameList()) {
        if (lostIn(*frame, version))
            lost.push_back(frame);
    }
    for (TagLib::ID3v2::Frame* frame : lost)
        tag.removeFrame(frame);
}

} // namespace tagwrapper
