// APE (Monkey's Audio, WavPack, Musepack): the APEv2 tag holds the fields, one item each,
// several values to an item; binary items such as cover art stay as the file has them. An
// ID3v1 tag of the same file is kept in step.
#include "familyguards.h"
#include "tagfamily.h"

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/audioproperties.h>
#include <taglib/id3v1tag.h>
#include <taglib/mpcfile.h>
#include <taglib/wavpackfile.h>

#include <utility>
#include <vector>

namespace tagwrapper {
namespace {

// Item keys as the APEv2 convention spells them; TagLib finds items whatever their case.
const char* itemOf(Field field)
{
    return rowOf(field).apeItem;
}

TagLib::StringList valuesOf(const TagLib::APE::Tag* ape, Field field)
{
    if (!ape)
        return TagLib::StringList();
    const auto& items = ape->itemListMap();
    const auto it = items.find(TagLib::String(itemOf(field)).upper());
    if (it == items.end() || it->second.type() != TagLib::APE::Item::Text)
        return TagLib::StringList();
    return it->second.values();
}

void setItem(TagLib::APE::Tag* ape, Field field, const TagLib::String& value)
{
    ape->removeItem(itemOf(field));
    for (const TagLib::String& part : valuesToStore(field, value))
        ape->addValue(itemOf(field), part, false);
}

// `ApeFile` is one of TagLib's classes with an APE and an ID3v1 tag, which share their calls.
template <typename ApeFile> class ApeFamily : public TagFamily
{
public:
    explicit ApeFamily(std::vector<FileKind> kinds) : m_kinds(std::move(kinds)) {}

    const std::vector<FileKind>& kinds() const override { return m_kinds; }

    bool handles(TagLib::File& file) const override
    {
        return dynamic_cast<ApeFile*>(&file) != nullptr;
    }

    TagLib::String text(TagLib::File& file, Field field) const override
    {
        const TagLib::String own = joinedValues(valuesOf(apeOf(file).APETag(false), field));
        // An ID3v1 tag stands in for a missing APE item, as TagLib reads it.
        return own.isEmpty() ? genericText(file.tag(), field) : own;
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        setItem(apeOf(file).APETag(true), field, value);
        setGenericText(apeOf(file).ID3v1Tag(false), field, value);
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        TagLib::APE::Tag* ape = apeOf(file).APETag(true);
        if (field == Field::Track) {
            const TagLib::StringList stored = valuesOf(ape, field);
            setItem(ape, field,
                    withTrackNumber(stored.isEmpty() ? TagLib::String() : stored.front(), value));
        } else {
            setItem(ape, field,
                    value == 0 ? TagLib::String()
                               : TagLib::String::number(static_cast<int>(value)));
        }
        setGenericNumber(apeOf(file).ID3v1Tag(false), field, value);
    }

    void strip(TagLib::File& file) const override { apeOf(file).strip(ApeFile::AllTags); }

    // TagLib calls a file without its format's header valid; it leaves the sample rate at 0.
    bool holdsAudio(TagLib::File& file) const override
    {
        const TagLib::AudioProperties* properties = file.audioProperties();
        return properties && properties->sampleRate() > 0;
    }

private:
    static ApeFile& apeOf(TagLib::File& file) { return static_cast<ApeFile&>(file); }

    const std::vector<FileKind> m_kinds;
};

} // namespace

// TagLib 1.13 reads their APE and ID3v1 tags within the file's bounds and only skips a leading
// ID3v2 tag.
const TagFamily& apeFamily()
{
    static const ApeFamily<TagLib::APE::File> family({{"APE", nothingToCheck}});
    return family;
}

const TagFamily& wavPackFamily()
{
    static const ApeFamily<TagLib::WavPack::File> family(
        {{"WV", nothingToCheck, TagLib_File_WavPack, [](TagLib::IOStream* stream) -> TagLib::File* {
              return new TagLib::WavPack::File(stream, true, TagLib::AudioProperties::Average);
          }}});
    return family;
}

const TagFamily& musepackFamily()
{
    static const ApeFamily<TagLib::MPC::File> family(
        {{"MPC", nothingToCheck, TagLib_File_MPC, [](TagLib::IOStream* stream) -> TagLib::File* {
              return new TagLib::MPC::File(stream, true, TagLib::AudioProperties::Average);
          }}});
    return family;
}

} // namespace tagwrapper
