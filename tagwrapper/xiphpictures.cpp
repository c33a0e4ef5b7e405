// FLAC picture blocks, and the METADATA_BLOCK_PICTURE comments of Ogg files: both hold the
// same FLAC picture structure. The dimensions a picture declares are kept when it is replaced
// and left at 0 (unknown) for a new one.
#include "pictures.h"

#include <taglib/flacfile.h>
#include <taglib/xiphcomment.h>

namespace tagwrapper {
namespace {

using FlacPicture = TagLib::FLAC::Picture;

// A FLAC metadata block holds at most 2^24 - 1 bytes; 32 of them frame the picture.
constexpr unsigned int kMaxFlacBlockBytes = (1u << 24) - 1;

Picture pictureOf(const FlacPicture& picture)
{
    return {picture.type(), picture.mimeType(), picture.description(), picture.data()};
}

void fill(FlacPicture& target, const Picture& picture)
{
    target.setType(static_cast<FlacPicture::Type>(picture.type));
    target.setMimeType(picture.mimeType);
    target.setDescription(picture.description);
    target.setData(picture.data);
}

FlacPicture* newPicture(const Picture& picture)
{
    auto* made = new FlacPicture;
    fill(*made, picture);
    return made;
}

std::vector<Picture> picturesOf(const TagLib::List<FlacPicture*>& list)
{
    std::vector<Picture> pictures;
    for (const FlacPicture* picture : list)
        pictures.push_back(pictureOf(*picture));
    return pictures;
}

// TagLib's picture lists are shared copies of a list that deletes its pictures: the copy must be
// gone before the list is changed, or it would delete the pictures the file still holds.
FlacPicture* pictureAt(const TagLib::List<FlacPicture*>& list, std::size_t index)
{
    return list[static_cast<unsigned int>(index)];
}

TagLib::FLAC::File& flacOf(TagLib::File& file)
{
    return static_cast<TagLib::FLAC::File&>(file);
}

TagLib::Ogg::XiphComment& xiphOf(TagLib::File& file)
{
    return *static_cast<TagLib::Ogg::XiphComment*>(file.tag());
}

// The pictures of whatever holds them in a file: a FLAC file's blocks or an Ogg file's comment
// take the same calls.
template <typename Owner, Owner& (*ownerOf)(TagLib::File&)>
class FlacPictureList : public PictureStore
{
public:
    std::vector<Picture> pictures(TagLib::File& file) const override
    {
        return picturesOf(ownerOf(file).pictureList());
    }

    bool holds(const Picture&) const override { return true; }

    void add(TagLib::File& file, const Picture& picture) const override
    {
        ownerOf(file).addPicture(newPicture(picture));
    }

    void replace(TagLib::File& file, std::size_t index, const Picture& picture) const override
    {
        fill(*pictureAt(ownerOf(file).pictureList(), index), picture);
    }

    void remove(TagLib::File& file, std::size_t index) const override
    {
        FlacPicture* picture = pictureAt(ownerOf(file).pictureList(), index);
        ownerOf(file).removePicture(picture);
    }
};

// A FLAC block has a size limit; a Vorbis comment field has none that matters.
class FlacPictures : public FlacPictureList<TagLib::FLAC::File, flacOf>
{
public:
    bool holds(const Picture& picture) const override
    {
        const std::size_t framed = 32 + picture.mimeType.data(TagLib::String::UTF8).size() +
                                   picture.description.data(TagLib::String::UTF8).size() +
                                   picture.data.size();
        return framed <= kMaxFlacBlockBytes;
    }
};

using XiphPictures = FlacPictureList<TagLib::Ogg::XiphComment, xiphOf>;

} // namespace

const PictureStore& flacPictures()
{
    static const FlacPictures store;
    return store;
}

const PictureStore& xiphPictures()
{
    static const XiphPictures store;
    return store;
}

} // namespace tagwrapper
