// MPEG: ID3v2 APIC frames. A frame keeps its text encoding unless its new description needs
// more than Latin-1.
#include "pictures.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

namespace tagwrapper {
namespace {

using TagLib::ID3v2::AttachedPictureFrame;

std::vector<AttachedPictureFrame*> framesOf(TagLib::File& file)
{
    std::vector<AttachedPictureFrame*> frames;
    TagLib::ID3v2::Tag* tag = static_cast<TagLib::MPEG::File&>(file).ID3v2Tag(false);
    if (!tag)
        return frames;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        if (auto* picture = dynamic_cast<AttachedPictureFrame*>(frame))
            frames.push_back(picture);
    }
    return frames;
}

void fill(AttachedPictureFrame& frame, const Picture& picture)
{
    if (frame.textEncoding() == TagLib::String::Latin1 && !picture.description.isLatin1())
        frame.setTextEncoding(TagLib::String::UTF8);
    frame.setType(static_cast<AttachedPictureFrame::Type>(picture.type));
    frame.setMimeType(picture.mimeType);
    frame.setDescription(picture.description);
    frame.setPicture(picture.data);
}

class Id3Pictures : public PictureStore
{
public:
    std::vector<Picture> pictures(TagLib::File& file) const override
    {
        std::vector<Picture> pictures;
        for (const AttachedPictureFrame* frame : framesOf(file))
            pictures.push_back(
                {frame->type(), frame->mimeType(), frame->description(), frame->picture()});
        return pictures;
    }

    bool holds(const Picture&) const override { return true; }

    void add(TagLib::File& file, const Picture& picture) const override
    {
        auto* frame = new AttachedPictureFrame;
        fill(*frame, picture);
        static_cast<TagLib::MPEG::File&>(file).ID3v2Tag(true)->addFrame(frame);
    }

    void replace(TagLib::File& file, std::size_t index, const Picture& picture) const override
    {
        fill(*framesOf(file)[index], picture);
    }

    void remove(TagLib::File& file, std::size_t index) const override
    {
        static_cast<TagLib::MPEG::File&>(file).ID3v2Tag(false)->removeFrame(framesOf(file)[index]);
    }
};

} // namespace

const PictureStore& id3Pictures()
{
    static const Id3Pictures store;
    return store;
}

} // namespace tagwrapper
