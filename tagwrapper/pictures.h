// Embedded pictures, each format's own picture item: ID3v2 APIC frames (MPEG), FLAC picture
// blocks, METADATA_BLOCK_PICTURE comments (Ogg), MP4 covr, ASF WM/Picture and APE "Cover Art
// (...)" items. A PictureStore knows one of them; the C entry points reach them only through
// pictureStoreOf().
#pragma once

#include <taglib/tbytevector.h>
#include <taglib/tstring.h>

#include <cstddef>
#include <vector>

namespace TagLib {
class File;
} // namespace TagLib

namespace tagwrapper {

// Picture types are ID3v2's, which FLAC and ASF share: 0 other, 3 front cover, 4 back cover,
// ... 20 publisher logo.
constexpr int kFrontCover = 3;
constexpr int kLastPictureType = 20;

// The most bytes a picture may have: far above any cover, far below what would strain the
// memory of a save (the file is read back and compared in full).
constexpr unsigned int kMaxPictureBytes = 64u << 20;

struct Picture
{
    int type = kFrontCover;
    TagLib::String mimeType;
    TagLib::String description;
    TagLib::ByteVector data;
};

bool operator==(const Picture& a, const Picture& b);

class PictureStore
{
public:
    virtual ~PictureStore() = default;

    // The file's pictures in the order the file keeps them.
    virtual std::vector<Picture> pictures(TagLib::File& file) const = 0;
    // False when the item cannot hold the picture as given (its type, MIME type, description
    // or size); nothing is stored then.
    virtual bool holds(const Picture& picture) const = 0;
    // Called only with a picture holds() accepts, and an index below pictures().size().
    virtual void add(TagLib::File& file, const Picture& picture) const = 0;
    virtual void replace(TagLib::File& file, std::size_t index, const Picture& picture) const = 0;
    virtual void remove(TagLib::File& file, std::size_t index) const = 0;
};

// The store of the file's type; null for a type without a picture item.
const PictureStore* pictureStoreOf(TagLib::File& file);

// The pictures of the file; none for a type without a picture item.
std::vector<Picture> picturesOf(TagLib::File& file);

// The same pictures in any order: TagLib writes an ASF file's attributes in an order of its own.
bool samePictures(std::vector<Picture> a, std::vector<Picture> b);

// Stores `picture` in place of the first one with its type and description, or after the
// others when there is none. False, storing nothing, when the file cannot hold it.
bool setPicture(TagLib::File& file, const Picture& picture);

// Stores `picture` after the others. False, storing nothing, when the file cannot hold it.
bool addPicture(TagLib::File& file, const Picture& picture);

// Removes the picture at `index`; false when there is none.
bool removePicture(TagLib::File& file, std::size_t index);

// The MIME type the image's signature gives (JPEG, PNG, GIF, BMP, WebP); empty for none.
TagLib::String mimeTypeOfImage(const TagLib::ByteVector& data);

// The stores, one module each.
const PictureStore& id3Pictures();
const PictureStore& flacPictures();
const PictureStore& xiphPictures();
const PictureStore& mp4Pictures();
const PictureStore& asfPictures();
const PictureStore& apePictures();

} // namespace tagwrapper
