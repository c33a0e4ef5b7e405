#include "fileinfo.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/speexfile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

namespace tagwrapper {
namespace {

TagLib::String id3v2Name(const TagLib::ID3v2::Tag* tag)
{
    return "ID3v2." + TagLib::String::number(static_cast<int>(tag->header()->majorVersion()));
}

void append(TagLib::String& list, const TagLib::String& name)
{
    list += list.isEmpty() ? name : ", " + name;
}

TagLib::String mpegTypes(TagLib::MPEG::File& mpeg)
{
    TagLib::String types;
    if (mpeg.hasID3v2Tag())
        append(types, id3v2Name(mpeg.ID3v2Tag()));
    if (mpeg.hasAPETag())
        append(types, "APE");
    if (mpeg.hasID3v1Tag())
        append(types, "ID3v1");
    return types;
}

TagLib::String flacTypes(TagLib::FLAC::File& flac)
{
    TagLib::String types;
    if (flac.hasXiphComment())
        append(types, "Xiph comment");
    if (flac.hasID3v2Tag())
        append(types, id3v2Name(flac.ID3v2Tag()));
    if (flac.hasID3v1Tag())
        append(types, "ID3v1");
    return types;
}

template <typename ApeFile> TagLib::String apeTypes(ApeFile& file)
{
    TagLib::String types;
    if (file.hasAPETag())
        append(types, "APE");
    if (file.hasID3v1Tag())
        append(types, "ID3v1");
    return types;
}

// A type whose own ID3v2 tag (in a chunk, or at the start) may have company: RIFF INFO in a WAV
// file, ID3v1 in a TrueAudio file.
TagLib::String id3v2HostTypes(TagLib::File& file)
{
    TagLib::String types;
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(&file)) {
        if (wav->hasID3v2Tag())
            append(types, id3v2Name(wav->ID3v2Tag()));
        if (wav->hasInfoTag())
            append(types, "RIFF INFO");
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(&file)) {
        if (aiff->hasID3v2Tag())
            append(types, id3v2Name(aiff->tag()));
    } else if (auto* tta = dynamic_cast<TagLib::TrueAudio::File*>(&file)) {
        if (tta->hasID3v2Tag())
            append(types, id3v2Name(tta->ID3v2Tag()));
        if (tta->hasID3v1Tag())
            append(types, "ID3v1");
    }
    return types;
}

TagLib::String asfCodec(const TagLib::ASF::Properties* properties)
{
    switch (properties->codec()) {
    case TagLib::ASF::Properties::WMA1:
        return "WMA 1";
    case TagLib::ASF::Properties::WMA2:
        return "WMA 2";
    case TagLib::ASF::Properties::WMA9Pro:
        return "WMA 9 Pro";
    case TagLib::ASF::Properties::WMA9Lossless:
        return "WMA 9 Lossless";
    default:
        return properties->codecName().isEmpty() ? TagLib::String("WMA") : properties->codecName();
    }
}

TagLib::String mpegCodec(const TagLib::MPEG::Properties* properties)
{
    const char* version = properties->version() == TagLib::MPEG::Header::Version1   ? "1"
                          : properties->version() == TagLib::MPEG::Header::Version2 ? "2"
                                                                                    : "2.5";
    return "MPEG-" + TagLib::String(version) + " Layer " +
           TagLib::String::number(properties->layer());
}

} // namespace

TagLib::String tagTypes(TagLib::File& file)
{
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(&file))
        return mpegTypes(*mpeg);
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(&file))
        return flacTypes(*flac);
    if (auto* ape = dynamic_cast<TagLib::APE::File*>(&file))
        return apeTypes(*ape);
    if (auto* wavpack = dynamic_cast<TagLib::WavPack::File*>(&file))
        return apeTypes(*wavpack);
    if (auto* mpc = dynamic_cast<TagLib::MPC::File*>(&file))
        return apeTypes(*mpc);
    if (dynamic_cast<TagLib::Ogg::File*>(&file))
        return "Xiph comment";
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(&file))
        return mp4->hasMP4Tag() ? "MP4" : "";
    if (dynamic_cast<TagLib::ASF::File*>(&file))
        return "ASF";
    if (dynamic_cast<TagLib::RIFF::File*>(&file) || dynamic_cast<TagLib::TrueAudio::File*>(&file))
        return id3v2HostTypes(file);
    return file.tag() && !file.tag()->isEmpty() ? "tag" : "";
}

TagLib::String codecName(TagLib::File& file)
{
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(&file))
        return mpeg->audioProperties() ? mpegCodec(mpeg->audioProperties()) : "MPEG";
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(&file)) {
        const TagLib::MP4::Properties* properties = mp4->audioProperties();
        return properties && properties->codec() == TagLib::MP4::Properties::ALAC ? "ALAC" : "AAC";
    }
    if (auto* asf = dynamic_cast<TagLib::ASF::File*>(&file))
        return asf->audioProperties() ? asfCodec(asf->audioProperties()) : "WMA";
    if (dynamic_cast<TagLib::Ogg::Vorbis::File*>(&file))
        return "Vorbis";
    if (dynamic_cast<TagLib::Ogg::Opus::File*>(&file))
        return "Opus";
    if (dynamic_cast<TagLib::Ogg::Speex::File*>(&file))
        return "Speex";
    if (dynamic_cast<TagLib::FLAC::File*>(&file) || dynamic_cast<TagLib::Ogg::FLAC::File*>(&file))
        return "FLAC";
    if (dynamic_cast<TagLib::APE::File*>(&file))
        return "Monkey's Audio";
    if (dynamic_cast<TagLib::WavPack::File*>(&file))
        return "WavPack";
    if (dynamic_cast<TagLib::MPC::File*>(&file))
        return "Musepack";
    if (dynamic_cast<TagLib::TrueAudio::File*>(&file))
        return "TrueAudio";
    return "PCM";
}

} // namespace tagwrapper
