#include "tagfamily.h"

#include <taglib/audioproperties.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

namespace tagwrapper {

unsigned int TagFamily::number(TagLib::File& file, Field field) const
{
    const TagLib::Tag* tag = file.tag();
    if (!tag)
        return 0;
    return field == Field::Track ? tag->track() : tag->year();
}

TagLib::String TagFamily::fullText(TagLib::File& file, Field field) const
{
    const TagLib::String stored = text(file, field);
    if (!stored.isEmpty())
        return stored;
    const unsigned int value = number(file, field);
    return value == 0 ? TagLib::String() : TagLib::String::number(static_cast<int>(value));
}

void TagFamily::setFullText(TagLib::File& file, Field field, const TagLib::String& value) const
{
    setText(file, field, value);
}

bool TagFamily::write(TagLib::File& file, const SaveRequest&) const
{
    return file.save();
}

bool TagFamily::readInFull(TagLib::File&, const Reader&) const
{
    return true;
}

TagLib::File* TagFamily::reopened(TagLib::IOStream&) const
{
    return nullptr;
}

bool TagFamily::readsBack(TagLib::File& memory, TagLib::File& disk, const SaveRequest&) const
{
    return fieldValues(*this, memory) == fieldValues(*this, disk);
}

bool TagFamily::holdsAudio(TagLib::File&) const
{
    return true;
}

const TagFamily& familyOf(TagLib::File& file)
{
    static const TagFamily* const families[] = {&id3Family(), &xiphFamily(), &mp4Family(),
                                                &asfFamily(), &apeFamily()};
    for (const TagFamily* family : families) {
        if (family->handles(file))
            return *family;
    }
    return otherFamily();
}

const char* propertyNameOf(Field field)
{
    switch (field) {
    case Field::Title:
        return "TITLE";
    case Field::Artist:
        return "ARTIST";
    case Field::Album:
        return "ALBUM";
    case Field::Track:
        return "TRACKNUMBER";
    case Field::Year:
        return "DATE";
    case Field::Genre:
        return "GENRE";
    case Field::Comment:
        return "COMMENT";
    case Field::Copyright:
        return "COPYRIGHT";
    case Field::Bpm:
        return "BPM";
    case Field::Key:
        return "INITIALKEY";
    }
    return "";
}

TagLib::StringList propertyValues(TagLib::File& file, const TagLib::String& name)
{
    const TagLib::PropertyMap map = file.properties();
    const auto it = map.find(name);
    return it == map.end() ? TagLib::StringList() : it->second;
}

void setPropertyValue(TagLib::File& file, const TagLib::String& name, const TagLib::String& value)
{
    TagLib::PropertyMap map = file.properties();
    if (value.isEmpty())
        map.erase(name);
    else
        map.replace(name, TagLib::StringList(value));
    file.setProperties(map);
}

TagLib::PropertyMap namedProperties(TagLib::File& file)
{
    auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(&file);
    if (!mpeg)
        return file.properties();
    const TagLib::ID3v2::Tag* id3v2 = mpeg->ID3v2Tag();
    return id3v2 ? id3v2->properties() : TagLib::PropertyMap();
}

bool setNamedProperty(TagLib::File& file, const TagLib::String& name,
                      const TagLib::StringList& values)
{
    TagLib::PropertyMap map = namedProperties(file);
    if (values.isEmpty())
        map.erase(name);
    else
        map.replace(name, values);
    // TagLib's setProperties() leaves every item the map holds unchanged as it is stored.
    auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(&file);
    const TagLib::PropertyMap refused =
        mpeg ? mpeg->ID3v2Tag(true)->setProperties(map) : file.setProperties(map);
    return !refused.contains(name);
}

TagLib::String joinedValues(const TagLib::StringList& values)
{
    return values.toString(kValueSeparator);
}

TagLib::StringList valuesToStore(Field field, const TagLib::String& text)
{
    if (text.isEmpty())
        return TagLib::StringList();
    if (field != Field::Artist && field != Field::Genre)
        return TagLib::StringList(text);
    TagLib::StringList values;
    const TagLib::String separator(kValueSeparator);
    int from = 0;
    for (int at = text.find(separator); from >= 0; at = text.find(separator, from)) {
        const unsigned int length = at < 0 ? text.size() - static_cast<unsigned int>(from)
                                           : static_cast<unsigned int>(at - from);
        values.append(text.substr(static_cast<unsigned int>(from), length));
        from = at < 0 ? -1 : at + static_cast<int>(separator.size());
    }
    // An empty part (a separator at either end, or two in a row) could not be read back as
    // typed: such a text stays one value.
    for (const TagLib::String& value : values) {
        if (value.isEmpty())
            return TagLib::StringList(text);
    }
    return values;
}

unsigned int leadingNumber(const TagLib::String& text)
{
    unsigned int value = 0;
    for (unsigned int i = 0; i < text.size() && i < 9 && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + static_cast<unsigned int>(text[i] - '0');
    return value;
}

unsigned int trackTotal(const TagLib::String& text)
{
    const int slash = text.find("/");
    return slash < 0 ? 0 : leadingNumber(text.substr(static_cast<unsigned int>(slash) + 1));
}

TagLib::String withTrackNumber(const TagLib::String& stored, unsigned int number)
{
    if (number == 0)
        return TagLib::String();
    const int slash = stored.find("/");
    return TagLib::String::number(static_cast<int>(number)) +
           (slash >= 0 ? stored.substr(static_cast<unsigned int>(slash)) : TagLib::String());
}

TagLib::String genericText(TagLib::Tag* tag, Field field)
{
    if (!tag)
        return TagLib::String();
    switch (field) {
    case Field::Title:
        return tag->title();
    case Field::Artist:
        return tag->artist();
    case Field::Album:
        return tag->album();
    case Field::Genre:
        return tag->genre();
    case Field::Comment:
        return tag->comment();
    default:
        return TagLib::String();
    }
}

void setGenericText(TagLib::Tag* tag, Field field, const TagLib::String& value)
{
    if (!tag)
        return;
    switch (field) {
    case Field::Title:
        tag->setTitle(value);
        break;
    case Field::Artist:
        tag->setArtist(value);
        break;
    case Field::Album:
        tag->setAlbum(value);
        break;
    case Field::Genre:
        tag->setGenre(value);
        break;
    case Field::Comment:
        tag->setComment(value);
        break;
    default:
        break;
    }
}

void setGenericNumber(TagLib::Tag* tag, Field field, unsigned int value)
{
    if (!tag)
        return;
    if (field == Field::Track)
        tag->setTrack(value);
    else if (field == Field::Year)
        tag->setYear(value);
}

bool operator==(const FieldValues& a, const FieldValues& b)
{
    for (std::size_t i = 0; i < sizeof a.texts / sizeof a.texts[0]; ++i) {
        if (a.texts[i] != b.texts[i])
            return false;
    }
    for (std::size_t i = 0; i < sizeof a.numbers / sizeof a.numbers[0]; ++i) {
        if (a.numbers[i] != b.numbers[i])
            return false;
    }
    return true;
}

FieldValues fieldValues(const TagFamily& family, TagLib::File& file)
{
    FieldValues values;
    for (std::size_t i = 0; i < sizeof kTextFields / sizeof kTextFields[0]; ++i)
        values.texts[i] = family.text(file, kTextFields[i]);
    for (std::size_t i = 0; i < sizeof kNumberFields / sizeof kNumberFields[0]; ++i)
        values.numbers[i] = family.number(file, kNumberFields[i]);
    return values;
}

bool sameAudio(TagLib::File& memory, TagLib::File& disk)
{
    const TagLib::AudioProperties* before = memory.audioProperties();
    const TagLib::AudioProperties* after = disk.audioProperties();
    if (!before)
        return true;
    return after && before->lengthInMilliseconds() == after->lengthInMilliseconds() &&
           before->sampleRate() == after->sampleRate() && before->channels() == after->channels();
}

} // namespace tagwrapper
