// MP4: the covr item, a list of images that carry their format and nothing else. Every one
// reads as a front cover without a description, and only such a picture can be stored. An
// image of another format is stored without one, and reads as its signature gives it.
#include "pictures.h"

#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>

#include <iterator>

namespace tagwrapper {
namespace {

using TagLib::MP4::CoverArt;

const char* const kCoverItem = "covr";

struct FormatName
{
    CoverArt::Format format;
    const char* mimeType;
};

const FormatName kFormats[] = {{CoverArt::JPEG, "image/jpeg"},
                               {CoverArt::PNG, "image/png"},
                               {CoverArt::GIF, "image/gif"},
                               {CoverArt::BMP, "image/bmp"}};

// The MIME type an image stored without a format reads as.
TagLib::String unnamedMimeType(const TagLib::ByteVector& image)
{
    const TagLib::String sniffed = mimeTypeOfImage(image);
    return sniffed.isEmpty() ? TagLib::String("application/octet-stream") : sniffed;
}

TagLib::String mimeTypeOf(const CoverArt& cover)
{
    for (const FormatName& name : kFormats) {
        if (name.format == cover.format())
            return name.mimeType;
    }
    return unnamedMimeType(cover.data());
}

bool formatOf(const TagLib::String& mimeType, CoverArt::Format& format)
{
    for (const FormatName& name : kFormats) {
        if (mimeType == name.mimeType) {
            format = name.format;
            return true;
        }
    }
    return false;
}

CoverArt coverOf(const Picture& picture)
{
    CoverArt::Format format = CoverArt::Unknown;
    formatOf(picture.mimeType, format);
    return CoverArt(format, picture.data);
}

TagLib::MP4::Tag* tagOf(TagLib::File& file)
{
    return static_cast<TagLib::MP4::File&>(file).tag();
}

TagLib::MP4::CoverArtList coversOf(TagLib::File& file)
{
    TagLib::MP4::Tag* tag = tagOf(file);
    return tag && tag->contains(kCoverItem) ? tag->item(kCoverItem).toCoverArtList()
                                            : TagLib::MP4::CoverArtList();
}

void store(TagLib::File& file, const TagLib::MP4::CoverArtList& covers)
{
    if (covers.isEmpty())
        tagOf(file)->removeItem(kCoverItem);
    else
        tagOf(file)->setItem(kCoverItem, covers);
}

class Mp4Pictures : public PictureStore
{
public:
    std::vector<Picture> pictures(TagLib::File& file) const override
    {
        std::vector<Picture> pictures;
        for (const CoverArt& cover : coversOf(file))
            pictures.push_back({kFrontCover, mimeTypeOf(cover), TagLib::String(), cover.data()});
        return pictures;
    }

    bool holds(const Picture& picture) const override
    {
        CoverArt::Format format;
        return picture.type == kFrontCover && picture.description.isEmpty() &&
               (formatOf(picture.mimeType, format) ||
                picture.mimeType == unnamedMimeType(picture.data));
    }

    void add(TagLib::File& file, const Picture& picture) const override
    {
        TagLib::MP4::CoverArtList covers = coversOf(file);
        covers.append(coverOf(picture));
        store(file, covers);
    }

    void replace(TagLib::File& file, std::size_t index, const Picture& picture) const override
    {
        TagLib::MP4::CoverArtList covers = coversOf(file);
        covers[static_cast<unsigned int>(index)] = coverOf(picture);
        store(file, covers);
    }

    void remove(TagLib::File& file, std::size_t index) const override
    {
        TagLib::MP4::CoverArtList covers = coversOf(file);
        covers.erase(std::next(covers.begin(), static_cast<long>(index)));
        store(file, covers);
    }
};

} // namespace

const PictureStore& mp4Pictures()
{
    static const Mp4Pictures store;
    return store;
}

} // namespace tagwrapper
