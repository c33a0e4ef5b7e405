#include "pictures.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cstring>

namespace tagwrapper {
namespace {

// A MIME type goes into Latin-1 or ASCII fields that end at a NUL or a length: printable
// ASCII without spaces, of a sensible length.
bool isPlainMimeType(const TagLib::String& mime)
{
    if (mime.isEmpty() || mime.size() > 64 || mime.find("/") < 1)
        return false;
    for (unsigned int i = 0; i < mime.size(); ++i) {
        if (mime[i] <= 0x20 || mime[i] >= 0x7f)
            return false;
    }
    return true;
}

bool isAcceptable(const Picture& picture)
{
    return picture.type >= 0 && picture.type <= kLastPictureType &&
           isPlainMimeType(picture.mimeType) && picture.data.size() <= kMaxPictureBytes;
}

bool startsWith(const TagLib::ByteVector& data, const char* signature, std::size_t length,
                unsigned int offset = 0)
{
    return data.size() >= offset + length &&
           std::memcmp(data.data() + offset, signature, length) == 0;
}

bool ordered(const Picture& a, const Picture& b)
{
    if (a.type != b.type)
        return a.type < b.type;
    if (a.description != b.description)
        return a.description < b.description;
    if (a.mimeType != b.mimeType)
        return a.mimeType < b.mimeType;
    return a.data < b.data;
}

// The file's store when it can hold the picture; null otherwise.
const PictureStore* storeHolding(TagLib::File& file, const Picture& picture)
{
    const PictureStore* store = pictureStoreOf(file);
    return store && isAcceptable(picture) && store->holds(picture) ? store : nullptr;
}

} // namespace

bool samePictures(std::vector<Picture> a, std::vector<Picture> b)
{
    std::sort(a.begin(), a.end(), ordered);
    std::sort(b.begin(), b.end(), ordered);
    return a == b;
}

bool operator==(const Picture& a, const Picture& b)
{
    return a.type == b.type && a.mimeType == b.mimeType && a.description == b.description &&
           a.data == b.data;
}

const PictureStore* pictureStoreOf(TagLib::File& file)
{
    if (dynamic_cast<TagLib::MPEG::File*>(&file) || dynamic_cast<TagLib::TrueAudio::File*>(&file) ||
        dynamic_cast<TagLib::RIFF::WAV::File*>(&file) ||
        dynamic_cast<TagLib::RIFF::AIFF::File*>(&file))
        return &id3Pictures();
    if (dynamic_cast<TagLib::FLAC::File*>(&file))
        return &flacPictures();
    if (dynamic_cast<TagLib::Ogg::XiphComment*>(file.tag()))
        return &xiphPictures();
    if (dynamic_cast<TagLib::MP4::File*>(&file))
        return &mp4Pictures();
    if (dynamic_cast<TagLib::ASF::File*>(&file))
        return &asfPictures();
    if (dynamic_cast<TagLib::APE::File*>(&file) || dynamic_cast<TagLib::WavPack::File*>(&file) ||
        dynamic_cast<TagLib::MPC::File*>(&file))
        return &apePictures();
    return nullptr;
}

std::vector<Picture> picturesOf(TagLib::File& file)
{
    const PictureStore* store = pictureStoreOf(file);
    return store ? store->pictures(file) : std::vector<Picture>();
}

bool setPicture(TagLib::File& file, const Picture& picture)
{
    const PictureStore* store = storeHolding(file, picture);
    if (!store)
        return false;
    const std::vector<Picture> pictures = store->pictures(file);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        if (pictures[i].type == picture.type && pictures[i].description == picture.description) {
            store->replace(file, i, picture);
            return true;
        }
    }
    store->add(file, picture);
    return true;
}

bool addPicture(TagLib::File& file, const Picture& picture)
{
    const PictureStore* store = storeHolding(file, picture);
    if (!store)
        return false;
    store->add(file, picture);
    return true;
}

bool removePicture(TagLib::File& file, std::size_t index)
{
    const PictureStore* store = pictureStoreOf(file);
    if (!store || index >= store->pictures(file).size())
        return false;
    store->remove(file, index);
    return true;
}

TagLib::String mimeTypeOfImage(const TagLib::ByteVector& data)
{
    if (startsWith(data, "\xff\xd8\xff", 3))
        return "image/jpeg";
    if (startsWith(data, "\x89PNG\r\n\x1a\n", 8))
        return "image/png";
    if (startsWith(data, "GIF8", 4))
        return "image/gif";
    if (startsWith(data, "BM", 2))
        return "image/bmp";
    if (startsWith(data, "RIFF", 4) && startsWith(data, "WEBP", 4, 8))
        return "image/webp";
    return TagLib::String();
}

} // namespace tagwrapper
