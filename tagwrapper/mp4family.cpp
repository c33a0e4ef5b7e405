// MP4: the items of the ilst atom hold the fields; cover art, free-form items and the track
// total stay as the file has them.
#include "familyguards.h"
#include "inputguards.h"
#include "tagfamily.h"

#include <taglib/audioproperties.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/tfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tagwrapper {
namespace {

// --- Input guards -------------------------------------------------------------------------------

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

} // namespace

namespace {

// A save sizes the tag's new room from the lengths of "ilst" and the "free" atoms beside it,
// and allocates the difference as padding: one that claims more than its "meta" holds asks
// for gigabytes from a file of kilobytes.
bool tagRoomFits(const unsigned char* name, std::uint64_t pos, std::uint64_t length,
                 std::uint64_t metaEnd)
{
    const bool room = std::memcmp(name, "ilst", 4) == 0 || std::memcmp(name, "free", 4) == 0;
    return !room || (pos <= metaEnd && length <= metaEnd - pos);
}

} // namespace

// Walks the atom tree the way TagLib builds it, without recursion, and refuses a tree
// deeper or larger than TagLib can build safely, offset tables it would overrun, or a tag's
// room larger than its "meta". Where TagLib stops reading (a length below 8, a cut-off
// header) the walk stops too and the file passes. A length beyond the end of the file does
// not stop TagLib 1.13, so elsewhere it does not stop the walk either.
bool mp4Passes(const Reader& r)
{
    const std::uint64_t fileEnd = r.size();
    std::vector<std::uint64_t> openEnds; // end offsets of the containers we are inside
    std::vector<bool> openIsMeta;        // whether each of them is a "meta"
    std::uint64_t pos = 0;
    long atoms = 0;
    for (;;) {
        while (!openEnds.empty() && pos >= openEnds.back()) {
            openEnds.pop_back();
            openIsMeta.pop_back();
        }
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
        if (!openIsMeta.empty() && openIsMeta.back() &&
            !tagRoomFits(name, pos, length, std::min(openEnds.back(), fileEnd)))
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
        openIsMeta.push_back(std::memcmp(name, "meta", 4) == 0);
        pos = child;
    }
}

namespace {

// --- Fields -------------------------------------------------------------------------------------

// tmpo holds only a number; any other BPM text goes here so it is not lost.
const char* const kBpmTextItem = "----:com.apple.iTunes:BPM";

const char* itemOf(Field field)
{
    return rowOf(field).mp4Item;
}

TagLib::String itemText(const TagLib::MP4::Tag* mp4, const char* name)
{
    if (!mp4 || !mp4->contains(name))
        return TagLib::String();
    return joinedValues(mp4->item(name).toStringList());
}

void setTextItem(TagLib::MP4::Tag* mp4, const char* name, const TagLib::StringList& values)
{
    mp4->removeItem(name);
    if (!values.isEmpty())
        mp4->setItem(name, values);
}

// tmpo is a signed 16-bit number in TagLib; only a plain decimal that reads back the same fits.
bool fitsTempo(const TagLib::String& value, int& number)
{
    bool ok = false;
    number = value.toInt(&ok);
    return ok && number >= 0 && number <= 32767 && TagLib::String::number(number) == value;
}

TagLib::MP4::Tag* mp4TagOf(TagLib::File& file)
{
    return dynamic_cast<TagLib::MP4::Tag*>(file.tag());
}

class Mp4Family : public TagFamily
{
public:
    const std::vector<FileKind>& kinds() const override
    {
        static const std::vector<FileKind> kinds = {
            {"M4A", mp4FilePasses, TagLib_File_MP4,
             [](TagLib::IOStream* stream) -> TagLib::File* {
                 return new TagLib::MP4::File(stream, true, TagLib::AudioProperties::Average);
             }},
            {"M4R", mp4FilePasses},
            {"M4B", mp4FilePasses},
            {"M4P", mp4FilePasses},
            {"MP4", mp4FilePasses},
            {"3G2", mp4FilePasses},
            {"M4V", mp4FilePasses},
        };
        return kinds;
    }

    bool handles(TagLib::File& file) const override { return mp4TagOf(file) != nullptr; }

    TagLib::String text(TagLib::File& file, Field field) const override
    {
        const TagLib::MP4::Tag* mp4 = mp4TagOf(file);
        if (field == Field::Bpm && mp4->contains("tmpo"))
            return TagLib::String::number(mp4->item("tmpo").toInt());
        if (field == Field::Bpm)
            return itemText(mp4, kBpmTextItem);
        return itemText(mp4, itemOf(field));
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        TagLib::MP4::Tag* mp4 = mp4TagOf(file);
        if (field != Field::Bpm) {
            setTextItem(mp4, itemOf(field), valuesToStore(field, value));
            return;
        }
        mp4->removeItem("tmpo");
        mp4->removeItem(kBpmTextItem);
        int number = 0;
        if (fitsTempo(value, number))
            mp4->setItem("tmpo", TagLib::MP4::Item(number));
        else
            setTextItem(mp4, kBpmTextItem, valuesToStore(field, value));
    }

    unsigned int number(TagLib::File& file, Field field) const override
    {
        const TagLib::MP4::Tag* mp4 = mp4TagOf(file);
        if (field == Field::Track)
            return mp4->contains("trkn") ? unsigned(mp4->item("trkn").toIntPair().first) : 0;
        return mp4->year();
    }

    // A track is the trkn pair of number and total.
    TagLib::String fullText(TagLib::File& file, Field field) const override
    {
        const TagLib::MP4::Tag* mp4 = mp4TagOf(file);
        if (field != Field::Track || !mp4->contains("trkn"))
            return TagLib::String(TagFamily::fullText(file, field));
        const auto pair = mp4->item("trkn").toIntPair();
        const TagLib::String number = TagLib::String::number(pair.first);
        return pair.second > 0 ? number + "/" + TagLib::String::number(pair.second) : number;
    }

    void setFullText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        if (field != Field::Track) {
            setText(file, field, value);
            return;
        }
        mp4TagOf(file)->setItem("trkn", TagLib::MP4::Item(static_cast<int>(leadingNumber(value)),
                                                          static_cast<int>(trackTotal(value))));
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        TagLib::MP4::Tag* mp4 = mp4TagOf(file);
        if (field == Field::Year) {
            mp4->setYear(value);
            return;
        }
        // The track total is the pair's second number and stays.
        const int total = mp4->contains("trkn") ? mp4->item("trkn").toIntPair().second : 0;
        if (value == 0 && total == 0)
            mp4->removeItem("trkn");
        else
            mp4->setItem("trkn", TagLib::MP4::Item(static_cast<int>(value), total));
    }

    void strip(TagLib::File& file) const override
    {
        TagLib::MP4::Tag* mp4 = mp4TagOf(file);
        TagLib::StringList keys;
        for (const auto& item : mp4->itemMap())
            keys.append(item.first);
        for (const auto& key : keys)
            mp4->removeItem(key);
    }
};

} // namespace

const TagFamily& mp4Family()
{
    static const Mp4Family family;
    return family;
}

} // namespace tagwrapper
