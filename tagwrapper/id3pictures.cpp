// ID3v2 APIC frames, of MPEG files and of the other types that carry an ID3v2 tag (TrueAudio,
// WAV, AIFF). A frame keeps its text encoding unless its new description needs more than
// Latin-1.
#include "pictures.h"

#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>

namespace tagwrapper {
namespace {

using TagLib::ID3v2::AttachedPictureFrame;

// The file's ID3v2 tag, made when `create` is set and an MPEG or TrueAudio file has none (WAV
// and AIFF files always have one in memory).
TagLib::ID3v2::Tag* id3v2TagOf(TagLib::File& file, bool create)
{
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(&file))
        return mpeg->ID3v2Tag(create);
    if (auto* trueAudio = dynamic_cast<TagLib::TrueAudio::File*>(&file))
        return trueAudio->ID3v2Tag(create);
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(&file))
        return wav->ID3v2Tag();
    return static_cast<TagLib::RIFF::AIFF::File&>(file).tag();
}

std::vector<AttachedPictureFrame*> framesOf(TagLib::File& file)
{
    std::vector<AttachedPictureFrame*> frames;
    TagLib::ID3v2::Tag* tag = id3v2TagOf(file, false);
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
        id3v2TagOf(file, true)->addFrame(frame);
    }

    void replace(TagLib::File& file, std::size_t index, const Picture& picture) const override
    {
        fill(*framesOf(file)[index], picture);
    }

    void remove(TagLib::File& file, std::size_t index) const override
    {
        id3v2TagOf(file, false)->removeFrame(framesOf(file)[index]);
    }
};

} // namespace

const PictureStore& id3Pictures()
{
    static const Id3Pictures store;
    return store;
}

} // namespace tagwrapper
