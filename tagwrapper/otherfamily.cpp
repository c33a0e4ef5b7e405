// TagLib's types without a module of their own (Musepack, WavPack, TrueAudio, WAV, AIFF and
// the tracker formats), through TagLib's generic property interface.
#include "tagfamily.h"

#include <taglib/mpcfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavpackfile.h>

namespace tagwrapper {
namespace {

class OtherFamily : public TagFamily
{
public:
    bool handles(TagLib::File&) const override { return true; }

    TagLib::String text(TagLib::File& file, Field field) const override
    {
        return joinedValues(propertyValues(file, rowOf(field).property));
    }

    void setText(TagLib::File& file, Field field, const TagLib::String& value) const override
    {
        setPropertyValue(file, rowOf(field).property, value);
    }

    void setNumber(TagLib::File& file, Field field, unsigned int value) const override
    {
        if (field == Field::Year) {
            setGenericNumber(file.tag(), field, value);
            return;
        }
        const TagLib::StringList stored = propertyValues(file, rowOf(field).property);
        setPropertyValue(
            file, rowOf(field).property,
            withTrackNumber(stored.isEmpty() ? TagLib::String() : stored.front(), value));
    }

    void strip(TagLib::File& file) const override
    {
        if (auto* mpc = dynamic_cast<TagLib::MPC::File*>(&file)) {
            mpc->strip(TagLib::MPC::File::AllTags);
            return;
        }
        if (auto* wv = dynamic_cast<TagLib::WavPack::File*>(&file)) {
            wv->strip(TagLib::WavPack::File::AllTags);
            return;
        }
        if (auto* tta = dynamic_cast<TagLib::TrueAudio::File*>(&file)) {
            tta->strip(TagLib::TrueAudio::File::AllTags);
            return;
        }
        const TagLib::PropertyMap rest = file.setProperties(TagLib::PropertyMap());
        file.removeUnsupportedProperties(rest.unsupportedData());
        for (const FieldRow& row : kFieldRows)
            setGenericText(file.tag(), row.field, TagLib::String());
        setGenericNumber(file.tag(), Field::Track, 0);
        setGenericNumber(file.tag(), Field::Year, 0);
    }
};

} // namespace

const TagFamily& otherFamily()
{
    static const OtherFamily family;
    return family;
}

} // namespace tagwrapper
