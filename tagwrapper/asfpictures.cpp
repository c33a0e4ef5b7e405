// ASF: WM/Picture attributes. An attribute of that name that does not hold a picture is left
// as it is and not counted.
#include "pictures.h"

#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/asftag.h>

#include <iterator>

namespace tagwrapper {
namespace {

const char* const kPictureAttribute = "WM/Picture";

TagLib::ASF::Tag* tagOf(TagLib::File& file)
{
    return static_cast<TagLib::ASF::File&>(file).tag();
}

TagLib::ASF::AttributeList attributesOf(TagLib::File& file)
{
    TagLib::ASF::Tag* tag = tagOf(file);
    return tag && tag->contains(kPictureAttribute) ? tag->attribute(kPictureAttribute)
                                                   : TagLib::ASF::AttributeList();
}

// The positions in `attributes` of those that hold a picture, in order.
std::vector<unsigned int> picturePositions(const TagLib::ASF::AttributeList& attributes)
{
    std::vector<unsigned int> positions;
    for (unsigned int i = 0; i < attributes.size(); ++i) {
        if (attributes[i].type() == TagLib::ASF::Attribute::BytesType &&
            attributes[i].toPicture().isValid())
            positions.push_back(i);
    }
    return positions;
}

TagLib::ASF::Attribute attributeOf(const Picture& picture)
{
    TagLib::ASF::Picture made;
    made.setType(static_cast<TagLib::ASF::Picture::Type>(picture.type));
    made.setMimeType(picture.mimeType);
    made.setDescription(picture.description);
    made.setPicture(picture.data);
    return TagLib::ASF::Attribute(made);
}

void store(TagLib::File& file, const TagLib::ASF::AttributeList& attributes)
{
    if (attributes.isEmpty())
        tagOf(file)->removeItem(kPictureAttribute);
    else
        tagOf(file)->setAttribute(kPictureAttribute, attributes);
}

class AsfPictures : public PictureStore
{
public:
    std::vector<Picture> pictures(TagLib::File& file) const override
    {
        const TagLib::ASF::AttributeList attributes = attributesOf(file);
        std::vector<Picture> pictures;
        for (unsigned int position : picturePositions(attributes)) {
            const TagLib::ASF::Picture picture = attributes[position].toPicture();
            pictures.push_back(
                {picture.type(), picture.mimeType(), picture.description(), picture.picture()});
        }
        return pictures;
    }

    bool holds(const Picture&) const override { return true; }

    void add(TagLib::File& file, const Picture& picture) const override
    {
        TagLib::ASF::AttributeList attributes = attributesOf(file);
        attributes.append(attributeOf(picture));
        store(file, attributes);
    }

    void replace(TagLib::File& file, std::size_t index, const Picture& picture) const override
    {
        TagLib::ASF::AttributeList attributes = attributesOf(file);
        attributes[picturePositions(attributes)[index]] = attributeOf(picture);
        store(file, attributes);
    }

    void remove(TagLib::File& file, std::size_t index) const override
    {
        TagLib::ASF::AttributeList attributes = attributesOf(file);
        attributes.erase(std::next(attributes.begin(), picturePositions(attributes)[index]));
        store(file, attributes);
    }
};

} // namespace

const PictureStore& asfPictures()
{
    static const AsfPictures store;
    return store;
}

} // namespace tagwrapper
