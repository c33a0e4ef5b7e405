// ASF (WMA): the content description and the attributes hold the fields; every other
// attribute, pictures among them, stays as the file has it.
#include "familyguards.h"
#include "tagfamily.h"

#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/audioproperties.h>
#include <taglib/tfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tagwrapper {

// Object GUIDs as they are stored.
const unsigned char kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

namespace {

// --- Input guards -------------------------------------------------------------------------------

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
// The extended content description lays out its records one way; the metadata and metadata
// library objects share another.
enum class AsfList
{
    ExtendedContent,
    Metadata
};

bool readAsfAttributeList(AsfCursor& c, AsfList list)
{
    for (std::uint64_t count = c.number(2); count > 0; --count) {
        if (c.atEnd())
            return false;
        std::uint64_t nameLength = 0;
        std::uint64_t type = 0;
        std::uint64_t size = 0;
        if (list == AsfList::ExtendedContent) {
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
            c.number(list == AsfList::ExtendedContent ? 4 : 2);
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

} // namespace

// The header objects, walked the way TagLib 1.13 reads them, object after object from where
// the last one's parse left off.
bool asfPasses(const Reader& r)
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
            if (!readAsfAttributeList(c, AsfList::ExtendedContent))
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
                if (std::memcmp(child, kAsfMetadata, 16) == 0 ||
                    std::memcmp(child, kAsfMetadataLibrary, 16) == 0) {
                    if (!readAsfAttributeList(c, AsfList::Metadata))
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

namespace {

// --- Fields -------------------------------------------------------------------------------------

// Title, artist, comment and copyright live in the content description, one text each; the
// other fields are attributes, which may hold several values.
const char* attributeOf(Field field)
{
    return rowOf(field).asfAttribute;
}

// The name other programs give the attribute that holds more values of a content description
// field (the content description holds one text each).
const char* spillOf(Field field)
{
    return rowOf(field).asfSpill;
}

// True when the header extension object, which holds the metadata objects, comes before the
// extended content description in the file's header.
bool metadataFirst(const Reader& r)
{
    unsigned char header[30];
    if (!r.read(0, header, sizeof header) || std::memcmp(header, kAsfHeader, 16) != 0)
        return false;
    // The objects lie inside the header object, whose size bounds the walk.
    const std::uint64_t end = std::min<std::uint64_t>(littleEndian64(header + 16), r.size());
    std::uint64_t pos = sizeof header;
    for (std::uint32_t i = 0; i < littleEndian32(header + 24) && pos < end; ++i) {
        unsigned char object[24];
        if (!r.read(pos, object, sizeof object))
            return false;
        if (std::memcmp(object, kAsfExtendedContent, 16) == 0)
            return false;
        if (std::memcmp(object, kAsfHeaderExtension, 16) == 0)
            return true;
        const std::uint64_t size = littleEndian64(object + 16);
        if (size < sizeof object)
            return false;
        pos += size;
    }
    return false;
}

TagLib::ASF::Tag* asfTagOf(TagLib::File& file)
{
    return dynamic_cast<TagLib::ASF::Tag*>(file.tag());
}

TagLib::StringList attributeValues(const TagLib::ASF::Tag* asf, const char* name)
{
    TagLib::StringList values;
    const auto& attributes = asf->attributeListMap();
    const auto it = attributes.find(name);
    if (it == attributes.end())
        return values;
    for (const auto& attribute : it->second)
        values.append(attribute.toString());
    return values;
}

TagLib::String descriptionText(const TagLib::ASF::Tag* asf, Field field)
{
    switch (field) {
    case Field::Title:
        return asf->title();
    case Field::Artist:
        return asf->artist();
    case Field::Comment:
        return asf->comment();
    default:
        return asf->copyright();
    }
}

void setDescriptionText(TagLib::ASF::Tag* asf, Field field, const TagLib::String& value)
{
    switch (field) {
    case Field::Title:
        asf->setTitle(value);
        break;
    case Field::Artist:
        asf->setArtist(value);
        break;
    case Field::Comment:
        asf->setComment(value);
        break;
    default:
        asf->setCopyright(value);
        break;
    }
}

void setAttributeValues(TagLib::ASF::Tag* asf, const char* name, const TagLib::StringList& values)
{
    asf->removeItem(name);
    for (const TagLib::String& value : values)
        asf->addAttribute(name, TagLib::ASF::Attribute(value));
}

class AsfFamily : public TagFamily
{
public:
    const std::vector<FileKind>& kinds() const override
    {
        static const std::vector<FileKind> kinds = {
            {"WMA", asfFilePasses, TagLib_File_ASF,
             [](TagLib::IOStream* stream) -> TagLib::File* {
                 return new TagLib::ASF::File(stream, true, TagLib::AudioProperties::Average);
             }},
            {"ASF", asfFilePasses},
        };
        return kinds;
    }

    bool handles(TagLib::File& file) const override { return asfTagOf(file) != nullptr; }

    TagLib::String text(TagLib::File& file, Field field) const override
    {
        const TagLib::ASF::Tag* asf = asfTagOf(file);
        const char* spill = spillOf(field);
        if (!spill)
            return joinedValues(attributeValues(asf, attributeOf(field)));
        // Other programs put the values after the first into attributes of the same name.
        TagLib::StringList values = attributeValues(asf, spill);
        const TagLib::String first = descriptionText(asf, field);
        if (!first.isEmpty())
            values.prepend(first);
        return joinedValues(values);
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        TagLib::ASF::Tag* asf = asfTagOf(file);
        TagLib::StringList values = valuesToStore(field, value);
        const char* spill = spillOf(field);
        if (!spill) {
            setAttributeValues(asf, attributeOf(field), values);
            return;
        }
        setDescriptionText(asf, field, values.isEmpty() ? TagLib::String() : values.front());
        if (!values.isEmpty())
            values.erase(values.begin());
        setAttributeValues(asf, spill, values);
    }

    // TagLib reads an attribute's values in the order of the objects that hold them, and
    // other programs (TagLib too) write the first value into the extended content description,
    // the others into the metadata objects. Where those come first, the first value is read
    // last; it is put back in front, so that the values show in the order they were written.
    bool readInFull(TagLib::File& file, const Reader& stored) const override
    {
        TagLib::ASF::Tag* asf = asfTagOf(file);
        if (!metadataFirst(stored))
            return true;
        TagLib::StringList spread;
        for (const auto& attribute : asf->attributeListMap()) {
            if (attribute.second.size() > 1)
                spread.append(attribute.first);
        }
        for (const TagLib::String& name : spread) {
            TagLib::ASF::AttributeList values = asf->attribute(name);
            values.prepend(values.back());
            values.erase(--values.end());
            asf->setAttribute(name, values);
        }
        return true;
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        // TagLib's setters store 0 as an attribute "0"; every other format drops the item.
        setAttribute(asfTagOf(file), attributeOf(field),
                     value == 0 ? TagLib::String()
                                : TagLib::String::number(static_cast<int>(value)));
    }

    void strip(TagLib::File& file) const override
    {
        TagLib::ASF::Tag* asf = asfTagOf(file);
        for (const FieldRow& row : kFieldRows) {
            if (row.asfSpill)
                setText(file, row.field, TagLib::String());
        }
        asf->setRating(TagLib::String());
        TagLib::StringList names;
        for (const auto& attribute : asf->attributeListMap())
            names.append(attribute.first);
        for (const auto& name : names)
            asf->removeItem(name);
    }

    // TagLib reads the values of an attribute that another program spread over two header
    // objects in another order than it writes them back; the values must survive, in any order.
    bool readsBack(TagLib::File& memory, TagLib::File& disk, const SaveRequest&) const override
    {
        return inAnyOrder(fieldValues(*this, memory)) == inAnyOrder(fieldValues(*this, disk));
    }

private:
    static FieldValues inAnyOrder(FieldValues values)
    {
        const TagLib::String separator(kValueSeparator);
        for (TagLib::String& text : values.texts) {
            std::vector<TagLib::String> parts;
            int from = 0;
            for (int at = text.find(separator); at >= 0; at = text.find(separator, from)) {
                parts.push_back(text.substr(unsigned(from), unsigned(at - from)));
                from = at + int(separator.size());
            }
            parts.push_back(text.substr(unsigned(from)));
            std::sort(parts.begin(), parts.end());
            TagLib::StringList sorted;
            for (const TagLib::String& part : parts)
                sorted.append(part);
            text = joinedValues(sorted);
        }
        return values;
    }

    static void setAttribute(TagLib::ASF::Tag* asf, const char* name, const TagLib::String& value)
    {
        asf->removeItem(name);
        if (!value.isEmpty())
            asf->setAttribute(name, TagLib::ASF::Attribute(value));
    }
};

} // namespace

const TagFamily& asfFamily()
{
    static const AsfFamily family;
    return family;
}

} // namespace tagwrapper
