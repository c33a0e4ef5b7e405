// APE (Monkey's Audio): the APEv2 tag holds the fields, one item each, several values to an
// item; binary items such as cover art stay as the file has them. An ID3v1 tag of the same
// file is kept in step.
#include "tagfamily.h"

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/audioproperties.h>
#include <taglib/id3v1tag.h>

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

class ApeFamily : public TagFamily
{
public:
    bool handles(TagLib::File& file) const override
    {
        return dynamic_cast<TagLib::APE::File*>(&file) != nullptr;
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

    void strip(TagLib::File& file) const override { apeOf(file).strip(TagLib::APE::File::AllTags); }

    // TagLib calls an APE file without an APE header valid; it leaves the sample rate at 0.
    bool holdsAudio(TagLib::File& file) const override
    {
        const TagLib::AudioProperties* properties = file.audioProperties();
        return properties && properties->sampleRate() > 0;
    }

private:
    static TagLib::APE::File& apeOf(TagLib::File& file)
    {
        return static_cast<TagLib::APE::File&>(file);
    }
};

} // namespace

const TagFamily& apeFamily()
{
    static const ApeFamily family;
    return family;
}

} // namespace tagwrapper
