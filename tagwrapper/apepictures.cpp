// APE tags (Monkey's Audio, WavPack, Musepack): binary items "Cover Art (Front)" and the like,
// the description, a NUL, then the image. The key names the type, so a tag holds one picture
// of each type; the MIME type is not stored and reads as the image's signature gives it.
#include "pictures.h"

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/mpcfile.h>
#include <taglib/wavpackfile.h>

namespace tagwrapper {
namespace {

// By picture type, as other APE taggers name the items.
const char* const kTypeNames[kLastPictureType + 1] = {"Other",
                                                      "Png Icon",
                                                      "Icon",
                                                      "Front",
                                                      "Back",
                                                      "Leaflet",
                                                      "Media",
                                                      "Lead Artist",
                                                      "Artist",
                                                      "Conductor",
                                                      "Band",
                                                      "Composer",
                                                      "Lyricist",
                                                      "Recording Location",
                                                      "During Recording",
                                                      "During Performance",
                                                      "Movie Screen Capture",
                                                      "Colored Fish",
                                                      "Illustration",
                                                      "Band Logo",
                                                      "Publisher Logo"};

const TagLib::String kKeyStart = "COVER ART (";

TagLib::String keyOf(int type)
{
    return "Cover Art (" + TagLib::String(kTypeNames[type]) + ")";
}

// The type an item key names; -1 for a key that names no picture.
int typeOfKey(const TagLib::String& upperKey)
{
    if (!upperKey.startsWith(kKeyStart))
        return -1;
    for (int type = 0; type <= kLastPictureType; ++type) {
        if (keyOf(type).upper() == upperKey)
            return type;
    }
    return 0;
}

TagLib::String mimeTypeOf(const TagLib::ByteVector& image)
{
    const TagLib::String sniffed = mimeTypeOfImage(image);
    return sniffed.isEmpty() ? TagLib::String("application/octet-stream") : sniffed;
}

TagLib::APE::Tag* tagOf(TagLib::File& file, bool create)
{
    if (auto* ape = dynamic_cast<TagLib::APE::File*>(&file))
        return ape->APETag(create);
    if (auto* wavPack = dynamic_cast<TagLib::WavPack::File*>(&file))
        return wavPack->APETag(create);
    return static_cast<TagLib::MPC::File&>(file).APETag(create);
}

// The picture items' keys, in the order the tag lists them.
std::vector<TagLib::String> pictureKeys(TagLib::File& file)
{
    std::vector<TagLib::String> keys;
    const TagLib::APE::Tag* tag = tagOf(file, false);
    if (!tag)
        return keys;
    for (const auto& entry : tag->itemListMap()) {
        if (entry.second.type() == TagLib::APE::Item::Binary && typeOfKey(entry.first) >= 0)
            keys.push_back(entry.first);
    }
    return keys;
}

Picture pictureOf(const TagLib::String& upperKey, const TagLib::ByteVector& value)
{
    Picture picture;
    picture.type = typeOfKey(upperKey);
    const int nul = value.find('\0');
    const unsigned int start = nul < 0 ? 0 : static_cast<unsigned int>(nul) + 1;
    if (nul > 0)
        picture.description =
            TagLib::String(value.mid(0, static_cast<unsigned int>(nul)), TagLib::String::UTF8);
    picture.data = value.mid(start);
    picture.mimeType = mimeTypeOf(picture.data);
    return picture;
}

class ApePictures : public PictureStore
{
public:
    std::vector<Picture> pictures(TagLib::File& file) const override
    {
        std::vector<Picture> pictures;
        const TagLib::APE::Tag* tag = tagOf(file, false);
        for (const TagLib::String& key : pictureKeys(file))
            pictures.push_back(pictureOf(key, tag->itemListMap()[key].binaryData()));
        return pictures;
    }

    bool holds(const Picture& picture) const override
    {
        return picture.mimeType == mimeTypeOf(picture.data);
    }

    void add(TagLib::File& file, const Picture& picture) const override
    {
        TagLib::ByteVector value = picture.description.data(TagLib::String::UTF8);
        value.append('\0');
        value.append(picture.data);
        const TagLib::String key = keyOf(picture.type);
        tagOf(file, true)->setItem(key, TagLib::APE::Item(key, value, true));
    }

    void replace(TagLib::File& file, std::size_t index, const Picture& picture) const override
    {
        remove(file, index);
        add(file, picture);
    }

    void remove(TagLib::File& file, std::size_t index) const override
    {
        tagOf(file, false)->removeItem(pictureKeys(file)[index]);
    }
};

} // namespace

const PictureStore& apePictures()
{
    static const ApePictures store;
    return store;
}

} // namespace tagwrapper
