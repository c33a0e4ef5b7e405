// TagLib's types without a module of their own (the tracker formats), through TagLib's generic
// property interface.
#include "familyguards.h"
#include "tagfamily.h"

#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>

namespace tagwrapper {
namespace {

class OtherFamily : public TagFamily
{
public:
    const std::vector<FileKind>& kinds() const override
    {
        static const std::vector<FileKind> kinds = {
            // TagLib reads the tracker formats' few texts within the file's bounds.
            {"MOD", nothingToCheck}, {"MODULE", nothingToCheck}, {"NST", nothingToCheck},
            {"WOW", nothingToCheck}, {"S3M", nothingToCheck},    {"IT", nothingToCheck},
            {"XM", nothingToCheck},
        };
        return kinds;
    }

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
