#include "tagfamily.h"

#include <taglib/asffile.h>
#include <taglib/audioproperties.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/unsynchronizedlyricsframe.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

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

TagLib::ID3v2::Tag* TagFamily::namedItemsTag(TagLib::File&, bool) const
{
    return nullptr;
}

bool TagFamily::keepsNamedItemsInId3v2() const
{
    return false;
}

namespace {

// The families in the order they are asked; the last handles every file.
const TagFamily* const* families()
{
    static const TagFamily* const all[] = {&id3Family(),       &wavFamily(),   &aiffFamily(),
                                           &trueAudioFamily(), &xiphFamily(),  &mp4Family(),
                                           &asfFamily(),       &apeFamily(),   &wavPackFamily(),
                                           &musepackFamily(),  &otherFamily(), nullptr};
    return all;
}

template <typename Match> const FileKind* kindWhere(Match match)
{
    for (const TagFamily* const* family = families(); *family; ++family) {
        for (const FileKind& kind : (*family)->kinds()) {
            if (match(kind))
                return &kind;
        }
    }
    return nullptr;
}

std::string upperExtension(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const char* dot = std::strrchr(name, '.');
    std::string extension = dot ? dot + 1 : "";
    for (char& c : extension) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - ('a' - 'A'));
    }
    return extension;
}

} // namespace

const TagFamily& familyOf(TagLib::File& file)
{
    const TagFamily* const* family = families();
    while (!(*family)->handles(file))
        ++family;
    return **family;
}

const FileKind* fileKindOfName(const char* path)
{
    const std::string extension = upperExtension(path);
    return kindWhere([&extension](const FileKind& kind) { return extension == kind.extension; });
}

const FileKind* fileKindOfType(TagLib_File_Type type)
{
    return kindWhere([type](const FileKind& kind) { return kind.fileType == int(type); });
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

namespace {

const TagLib::String kMp4FreeForm = "----:com.apple.iTunes:";

// TagLib's property interface leaves out MP4 free-form atoms and ASF attributes it has no
// name for, and refuses to store such names: they are read and written here as the formats'
// own free-form items, under the name they are stored with (case ignored).
TagLib::StringList freeFormValues(TagLib::File& file, const TagLib::String& storedKey)
{
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(&file)) {
        const TagLib::MP4::ItemMap& items = mp4->tag()->itemMap();
        const auto it = items.find(storedKey);
        return it == items.end() ? TagLib::StringList() : it->second.toStringList();
    }
    if (auto* asf = dynamic_cast<TagLib::ASF::File*>(&file)) {
        // Not ASF::Tag::attribute(), which adds an empty attribute under a name it lacks.
        const TagLib::ASF::AttributeListMap& attributes = asf->tag()->attributeListMap();
        const auto it = attributes.find(storedKey);
        TagLib::StringList values;
        if (it == attributes.end())
            return values;
        for (const TagLib::ASF::Attribute& attribute : it->second) {
            if (attribute.type() == TagLib::ASF::Attribute::UnicodeType)
                values.append(attribute.toString());
        }
        return values;
    }
    return TagLib::StringList();
}

// The name a free-form item is shown by, empty for an item that is not free-form text.
TagLib::String freeFormName(TagLib::File& file, const TagLib::String& storedKey)
{
    if (dynamic_cast<TagLib::MP4::File*>(&file))
        return storedKey.startsWith(kMp4FreeForm) ? storedKey.substr(kMp4FreeForm.size()).upper()
                                                  : TagLib::String();
    return dynamic_cast<TagLib::ASF::File*>(&file) ? storedKey.upper() : TagLib::String();
}

TagLib::String storedFreeFormKey(TagLib::File& file, const TagLib::String& name)
{
    const TagLib::PropertyMap map = file.properties();
    for (const TagLib::String& key : map.unsupportedData()) {
        if (freeFormName(file, key) == name)
            return key;
    }
    return dynamic_cast<TagLib::MP4::File*>(&file) ? kMp4FreeForm + name : name;
}

bool setFreeForm(TagLib::File& file, const TagLib::String& name, const TagLib::StringList& values)
{
    const TagLib::String key = storedFreeFormKey(file, name);
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(&file)) {
        if (values.isEmpty())
            mp4->tag()->removeItem(key);
        else
            mp4->tag()->setItem(key, TagLib::MP4::Item(values));
        return true;
    }
    auto* asf = dynamic_cast<TagLib::ASF::File*>(&file);
    if (!asf)
        return false;
    asf->tag()->removeItem(key);
    for (const TagLib::String& value : values)
        asf->tag()->addAttribute(key, TagLib::ASF::Attribute(value));
    return true;
}

} // namespace

TagLib::PropertyMap namedProperties(TagLib::File& file)
{
    const TagFamily& family = familyOf(file);
    if (family.keepsNamedItemsInId3v2()) {
        const TagLib::ID3v2::Tag* id3v2 = family.namedItemsTag(file, false);
        return id3v2 ? id3v2->properties() : TagLib::PropertyMap();
    }
    TagLib::PropertyMap map = file.properties();
    for (const TagLib::String& key : map.unsupportedData()) {
        const TagLib::String name = freeFormName(file, key);
        const TagLib::StringList values = freeFormValues(file, key);
        if (!name.isEmpty() && !values.isEmpty() && !map.contains(name))
            map.insert(name, values);
    }
    return map;
}

namespace {

// MP4 and ASF: TagLib's setProperties() stores every item of the map anew (an ASF track
// number would turn from a number into a text), so the item is made in an empty tag and
// only it is moved over. False when TagLib has no item for the name.
template <typename FormatTag, typename Store>
bool setOneItem(const TagLib::String& name, const TagLib::StringList& values, const Store& store)
{
    FormatTag scratch;
    TagLib::PropertyMap map;
    map.insert(name, values.isEmpty() ? TagLib::StringList(TagLib::String("-")) : values);
    if (scratch.setProperties(map).contains(name))
        return false;
    store(scratch);
    return true;
}

bool setMp4Item(TagLib::MP4::File& file, const TagLib::String& name,
                const TagLib::StringList& values)
{
    return setOneItem<TagLib::MP4::Tag>(name, values, [&](TagLib::MP4::Tag& scratch) {
        for (const auto& item : scratch.itemMap()) {
            if (values.isEmpty())
                file.tag()->removeItem(item.first);
            else
                file.tag()->setItem(item.first, item.second);
        }
    });
}

bool setAsfItem(TagLib::ASF::File& file, const TagLib::String& name,
                const TagLib::StringList& values)
{
    return setOneItem<TagLib::ASF::Tag>(name, values, [&](TagLib::ASF::Tag& scratch) {
        for (const auto& attribute : scratch.attributeListMap()) {
            file.tag()->removeItem(attribute.first);
            if (!values.isEmpty())
                file.tag()->setAttribute(attribute.first, attribute.second);
        }
    });
}

// TagLib writes the MusicBrainz and AcoustID TXXX descriptions in capitals, where other
// software writes and looks for "MusicBrainz Album Id".
TagLib::String usualTxxxDescription(const TagLib::String& description)
{
    if (!description.startsWith("MUSICBRAINZ ") && !description.startsWith("ACOUSTID "))
        return description;
    std::string words = description.to8Bit(true);
    bool wordStart = true;
    for (char& c : words) {
        if (c >= 'A' && c <= 'Z' && !wordStart)
            c = static_cast<char>(c - 'A' + 'a');
        wordStart = c == ' ';
    }
    const std::size_t space = words.find(' ');
    return TagLib::String(description.startsWith("MUSICBRAINZ ") ? "MusicBrainz" : "Acoustid") +
           TagLib::String(words.substr(space), TagLib::String::UTF8);
}

// TagLib names a new lyrics frame "LYRICS" in an unknown language; other software writes
// and reads the frame without a description, in the language of the one it replaces.
void settleNewFrame(TagLib::ID3v2::Frame* frame, const TagLib::ByteVector& language)
{
    if (auto* txxx = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame))
        txxx->setDescription(usualTxxxDescription(txxx->description()));
    if (auto* lyrics = dynamic_cast<TagLib::ID3v2::UnsynchronizedLyricsFrame*>(frame)) {
        if (lyrics->description() == "LYRICS")
            lyrics->setDescription(TagLib::String());
        lyrics->setLanguage(language);
    }
}

bool setId3v2Item(TagLib::ID3v2::Tag* tag, const TagLib::String& name,
                  const TagLib::StringList& values)
{
    // Pointers only: a copy of the tag's own list would delete its frames when it goes.
    std::vector<const TagLib::ID3v2::Frame*> before;
    for (const TagLib::ID3v2::Frame* frame : tag->frameList())
        before.push_back(frame);
    TagLib::ByteVector language("eng");
    for (const TagLib::ID3v2::Frame* frame : tag->frameList("USLT"))
        language = static_cast<const TagLib::ID3v2::UnsynchronizedLyricsFrame*>(frame)->language();
    TagLib::PropertyMap map = tag->properties();
    if (values.isEmpty())
        map.erase(name);
    else
        map.replace(name, values);
    // TagLib's setProperties() leaves every frame the map holds unchanged as it is stored.
    if (tag->setProperties(map).contains(name))
        return false;
    for (TagLib::ID3v2::Frame* frame : tag->frameList()) {
        if (std::find(before.begin(), before.end(), frame) == before.end())
            settleNewFrame(frame, language);
    }
    return true;
}

bool setKnownItem(TagLib::File& file, const TagLib::String& name, const TagLib::StringList& values)
{
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(&file))
        return setMp4Item(*mp4, name, values);
    if (auto* asf = dynamic_cast<TagLib::ASF::File*>(&file))
        return setAsfItem(*asf, name, values);
    const TagFamily& family = familyOf(file);
    if (family.keepsNamedItemsInId3v2())
        return setId3v2Item(family.namedItemsTag(file, true), name, values);
    TagLib::PropertyMap map = file.properties();
    if (values.isEmpty())
        map.erase(name);
    else
        map.replace(name, values);
    // TagLib's setProperties() leaves every other item of these formats as it is stored.
    return !file.setProperties(map).contains(name);
}

} // namespace

bool setNamedProperty(TagLib::File& file, const TagLib::String& name,
                      const TagLib::StringList& values)
{
    const bool freeForm = !freeFormValues(file, storedFreeFormKey(file, name)).isEmpty();
    return freeForm ? setFreeForm(file, name, values)
                    : setKnownItem(file, name, values) || setFreeForm(file, name, values);
}

TagLib::String joinedValues(const TagLib::StringList& values)
{
    return values.toString(kValueSeparator);
}

TagLib::StringList valuesToStore(Field field, const TagLib::String& text)
{
    if (text.isEmpty())
        return TagLib::StringList();
    if (!rowOf(field).severalValues)
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
    const auto get = rowOf(field).genericGet;
    return tag && get ? (tag->*get)() : TagLib::String();
}

void setGenericText(TagLib::Tag* tag, Field field, const TagLib::String& value)
{
    const auto set = rowOf(field).genericSet;
    if (tag && set)
        (tag->*set)(value);
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
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        if (a.texts[i] != b.texts[i] || a.numbers[i] != b.numbers[i])
            return false;
    }
    return true;
}

FieldValues fieldValues(const TagFamily& family, TagLib::File& file)
{
    FieldValues values;
    for (const FieldRow& row : kFieldRows) {
        const auto i = static_cast<std::size_t>(row.field);
        if (row.number)
            values.numbers[i] = family.number(file, row.field);
        else
            values.texts[i] = family.text(file, row.field);
    }
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
