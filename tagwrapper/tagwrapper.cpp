#include "tagwrapper.h"

#include "inputguards.h"
#include "safesave.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/speexfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

// TagLib's own C binding declares these structs the same way; they are never defined, the
// pointers are casts of our own objects.
struct TagLib_File_s;
struct TagLib_Tag_s;
struct TagLib_AudioProperties_s;

namespace {

using TagLib::String;

struct FileHandle
{
    // TagLib reads and writes through this stream, never by the path; it outlives ref.
    std::unique_ptr<tagwrapper::DescriptorStream> stream;
    TagLib::FileRef ref;
    // The file as it was when opened (and after each save): a save into a file that changed
    // in the meantime would write an edit based on contents that are no longer there.
    tagwrapper::FileIdentity identity;
    // Tag removal is applied by the save that follows, because for MPEG files TagLib strips
    // straight on disk.
    bool removePending = false;
    // A save failed after TagLib had written into the copy: the offsets TagLib keeps describe
    // that copy, not the file, so this handle saves nothing any more.
    bool stale = false;
};

bool g_unicode = false;
bool g_manageStrings = true;
bool g_encodingChosen = false;
std::vector<char*> g_strings;

FileHandle* handleOf(const TagLib_File* file)
{
    return reinterpret_cast<FileHandle*>(const_cast<TagLib_File*>(file));
}

TagLib::File* fileOf(const TagLib_File* file)
{
    FileHandle* h = handleOf(file);
    return h ? h->ref.file() : nullptr;
}

TagLib::Tag* tagOf(const TagLib_Tag* tag)
{
    return reinterpret_cast<TagLib::Tag*>(const_cast<TagLib_Tag*>(tag));
}

String fromC(const char* text)
{
    if (!text)
        return String();
    return String(text, g_unicode ? String::UTF8 : String::Latin1);
}

char* toC(const String& text)
{
    const std::string bytes = text.to8Bit(g_unicode);
    char* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
    if (!copy)
        return nullptr;
    std::memcpy(copy, bytes.c_str(), bytes.size() + 1);
    if (g_manageStrings) {
        try {
            g_strings.push_back(copy);
        } catch (...) {
            std::free(copy);
            return nullptr;
        }
    }
    return copy;
}

// Opening a FIFO or a device makes TagLib block or read forever; only regular files (after
// following links) are handed to it.
bool isRegularFile(const char* path)
{
    struct stat st;
    return path && *path && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

void chooseDefaultEncoding()
{
    if (!g_encodingChosen) {
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(String::UTF8);
        g_encodingChosen = true;
    }
}

// Opens the file at path the way the handle will keep it: the input guards check, and TagLib
// parses, the file behind one descriptor, whose identity the handle keeps. Checking the file
// already opened leaves no moment in which another file could take its name in between.
// `guard` checks the descriptor; create builds the TagLib object on the stream (null when the
// type is not recognised).
template <typename Guard, typename Create>
TagLib_File* openHandle(const char* path, Guard guard, Create create)
{
    tagwrapper::FileIdentity identity;
    std::unique_ptr<tagwrapper::DescriptorStream> stream(
        tagwrapper::DescriptorStream::openFile(path, identity));
    if (!stream || !guard(stream->descriptor()))
        return nullptr;
    chooseDefaultEncoding();
    TagLib::FileRef ref = create(stream.get());
    TagLib::File* file = ref.file();
    if (!file || !file->isOpen() || !tagwrapper::hasAudio(file))
        return nullptr;
    auto* h = new FileHandle{std::move(stream), ref, identity, false, false};
    return reinterpret_cast<TagLib_File*>(h);
}

TagLib::File* createByType(TagLib::IOStream* stream, TagLib_File_Type type)
{
    using Style = TagLib::AudioProperties::ReadStyle;
    const Style style = TagLib::AudioProperties::Average;
    auto* frames = TagLib::ID3v2::FrameFactory::instance();
    switch (type) {
    case TagLib_File_MPEG:
        return new TagLib::MPEG::File(stream, frames, true, style);
    case TagLib_File_OggVorbis:
        return new TagLib::Ogg::Vorbis::File(stream, true, style);
    case TagLib_File_FLAC:
        return new TagLib::FLAC::File(stream, frames, true, style);
    case TagLib_File_MPC:
        return new TagLib::MPC::File(stream, true, style);
    case TagLib_File_OggFlac:
        return new TagLib::Ogg::FLAC::File(stream, true, style);
    case TagLib_File_WavPack:
        return new TagLib::WavPack::File(stream, true, style);
    case TagLib_File_Speex:
        return new TagLib::Ogg::Speex::File(stream, true, style);
    case TagLib_File_TrueAudio:
        return new TagLib::TrueAudio::File(stream, frames, true, style);
    case TagLib_File_MP4:
        return new TagLib::MP4::File(stream, true, style);
    case TagLib_File_ASF:
        return new TagLib::ASF::File(stream, true, style);
    }
    return nullptr;
}

// --- Fields reached through the file ---------------------------------------------------------

enum class Field
{
    Copyright,
    Bpm,
    Key,
    Other
};

Field fieldOf(const String& upperName)
{
    if (upperName == "COPYRIGHT")
        return Field::Copyright;
    if (upperName == "BPM")
        return Field::Bpm;
    if (upperName == "INITIALKEY" || upperName == "KEY")
        return Field::Key;
    return Field::Other;
}

const char* id3v2FrameOf(Field f)
{
    switch (f) {
    case Field::Copyright:
        return "TCOP";
    case Field::Bpm:
        return "TBPM";
    case Field::Key:
        return "TKEY";
    case Field::Other:
        break;
    }
    return nullptr;
}

// The name the field has in the Vorbis comment and APE tag conventions (and PropertyMap).
String propertyNameOf(Field f, const String& upperName)
{
    switch (f) {
    case Field::Copyright:
        return "COPYRIGHT";
    case Field::Bpm:
        return "BPM";
    case Field::Key:
        return "INITIALKEY";
    case Field::Other:
        break;
    }
    return upperName;
}

const char* const kMp4KeyItem = "----:com.apple.iTunes:initialkey";
// tmpo holds only a number; any other BPM text goes here so it is not lost.
const char* const kMp4BpmTextItem = "----:com.apple.iTunes:BPM";
const char* const kAsfBpm = "WM/BeatsPerMinute";
const char* const kAsfKey = "WM/InitialKey";

bool readProperty(TagLib::File* file, const String& name, String& value)
{
    const TagLib::PropertyMap map = file->properties();
    const auto it = map.find(name);
    if (it == map.end() || it->second.isEmpty())
        return false;
    value = it->second.front();
    return true;
}

void writeProperty(TagLib::File* file, const String& name, const String& value)
{
    TagLib::PropertyMap map = file->properties();
    if (value.isEmpty())
        map.erase(name);
    else
        map.replace(name, TagLib::StringList(value));
    file->setProperties(map);
}

bool readXiph(const TagLib::Ogg::XiphComment* xiph, const String& name, String& value)
{
    const auto& fields = xiph->fieldListMap();
    const auto it = fields.find(name);
    if (it == fields.end() || it->second.isEmpty())
        return false;
    value = it->second.front();
    return true;
}

void writeXiph(TagLib::Ogg::XiphComment* xiph, const String& name, const String& value)
{
    xiph->removeFields(name);
    if (!value.isEmpty())
        xiph->addField(name, value, true);
}

bool readApe(const TagLib::APE::Tag* ape, const String& name, String& value)
{
    const auto& items = ape->itemListMap();
    const auto it = items.find(name.upper());
    if (it == items.end() || it->second.values().isEmpty())
        return false;
    value = it->second.values().front();
    return true;
}

void writeApe(TagLib::APE::Tag* ape, const String& name, const String& value)
{
    ape->removeItem(name);
    if (!value.isEmpty())
        ape->addValue(name, value, true);
}

bool readId3v2(const TagLib::ID3v2::Tag* id3, const char* frameId, String& value)
{
    const auto& frames = id3->frameListMap();
    const auto it = frames.find(frameId);
    if (it == frames.end() || it->second.isEmpty())
        return false;
    value = it->second.front()->toString();
    return true;
}

void writeId3v2(TagLib::ID3v2::Tag* id3, const char* frameId, const String& value)
{
    id3->removeFrames(frameId);
    if (value.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(
        frameId, TagLib::ID3v2::FrameFactory::instance()->defaultTextEncoding());
    frame->setText(value);
    id3->addFrame(frame);
}

bool readMp4Text(const TagLib::MP4::Tag* mp4, const char* item, String& value)
{
    if (!mp4->contains(item))
        return false;
    const TagLib::StringList list = mp4->item(item).toStringList();
    if (list.isEmpty())
        return false;
    value = list.front();
    return true;
}

void writeMp4Text(TagLib::MP4::Tag* mp4, const char* item, const String& value)
{
    mp4->removeItem(item);
    if (!value.isEmpty())
        mp4->setItem(item, TagLib::StringList(value));
}

// tmpo is a signed 16-bit number in TagLib; only a plain decimal that reads back the same fits.
bool fitsMp4Tempo(const String& value, int& number)
{
    bool ok = false;
    number = value.toInt(&ok);
    return ok && number >= 0 && number <= 32767 && String::number(number) == value;
}

bool readMp4(TagLib::MP4::Tag* mp4, Field f, String& value)
{
    switch (f) {
    case Field::Copyright:
        return readMp4Text(mp4, "cprt", value);
    case Field::Bpm:
        if (mp4->contains("tmpo")) {
            value = String::number(mp4->item("tmpo").toInt());
            return true;
        }
        return readMp4Text(mp4, kMp4BpmTextItem, value);
    case Field::Key:
        return readMp4Text(mp4, kMp4KeyItem, value);
    case Field::Other:
        break;
    }
    return false;
}

void writeMp4(TagLib::MP4::Tag* mp4, Field f, const String& value)
{
    switch (f) {
    case Field::Copyright:
        writeMp4Text(mp4, "cprt", value);
        break;
    case Field::Bpm: {
        mp4->removeItem("tmpo");
        mp4->removeItem(kMp4BpmTextItem);
        int number = 0;
        if (fitsMp4Tempo(value, number))
            mp4->setItem("tmpo", TagLib::MP4::Item(number));
        else
            writeMp4Text(mp4, kMp4BpmTextItem, value);
        break;
    }
    case Field::Key:
        writeMp4Text(mp4, kMp4KeyItem, value);
        break;
    case Field::Other:
        break;
    }
}

bool readAsfAttribute(const TagLib::ASF::Tag* asf, const char* name, String& value)
{
    const auto& attributes = asf->attributeListMap();
    const auto it = attributes.find(name);
    if (it == attributes.end() || it->second.isEmpty())
        return false;
    value = it->second.front().toString();
    return true;
}

void writeAsfAttribute(TagLib::ASF::Tag* asf, const char* name, const String& value)
{
    asf->removeItem(name);
    if (!value.isEmpty())
        asf->setAttribute(name, TagLib::ASF::Attribute(value));
}

bool readAsf(const TagLib::ASF::Tag* asf, Field f, String& value)
{
    switch (f) {
    case Field::Copyright:
        value = asf->copyright();
        return !value.isEmpty();
    case Field::Bpm:
        return readAsfAttribute(asf, kAsfBpm, value);
    case Field::Key:
        return readAsfAttribute(asf, kAsfKey, value);
    case Field::Other:
        break;
    }
    return false;
}

void writeAsf(TagLib::ASF::Tag* asf, Field f, const String& value)
{
    switch (f) {
    case Field::Copyright:
        asf->setCopyright(value);
        break;
    case Field::Bpm:
        writeAsfAttribute(asf, kAsfBpm, value);
        break;
    case Field::Key:
        writeAsfAttribute(asf, kAsfKey, value);
        break;
    case Field::Other:
        break;
    }
}

// The Vorbis comment of any Ogg or FLAC file, null for other types.
TagLib::Ogg::XiphComment* xiphOf(TagLib::File* file)
{
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file))
        return flac->xiphComment(true);
    return dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag());
}

bool readField(TagLib::File* file, const String& name, String& value)
{
    const String upper = name.upper();
    const Field f = fieldOf(upper);
    const String property = propertyNameOf(f, upper);
    if (f != Field::Other) {
        if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
            auto* id3 = mpeg->ID3v2Tag(false);
            return id3 && readId3v2(id3, id3v2FrameOf(f), value);
        }
        if (auto* mp4 = dynamic_cast<TagLib::MP4::Tag*>(file->tag()))
            return readMp4(mp4, f, value);
        if (auto* asf = dynamic_cast<TagLib::ASF::Tag*>(file->tag()))
            return readAsf(asf, f, value);
    }
    if (auto* xiph = xiphOf(file))
        return readXiph(xiph, property, value);
    if (auto* ape = dynamic_cast<TagLib::APE::File*>(file)) {
        auto* tag = ape->APETag(false);
        return tag && readApe(tag, property, value);
    }
    return readProperty(file, property, value);
}

void writeField(TagLib::File* file, const String& name, const String& value)
{
    const String upper = name.upper();
    const Field f = fieldOf(upper);
    const String property = propertyNameOf(f, upper);
    if (f != Field::Other) {
        if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
            writeId3v2(mpeg->ID3v2Tag(true), id3v2FrameOf(f), value);
            return;
        }
        if (auto* mp4 = dynamic_cast<TagLib::MP4::Tag*>(file->tag())) {
            writeMp4(mp4, f, value);
            return;
        }
        if (auto* asf = dynamic_cast<TagLib::ASF::Tag*>(file->tag())) {
            writeAsf(asf, f, value);
            return;
        }
    }
    if (auto* xiph = xiphOf(file)) {
        writeXiph(xiph, property, value);
        return;
    }
    if (auto* ape = dynamic_cast<TagLib::APE::File*>(file)) {
        // APE keys are case-insensitive; "Copyright" is the spelling the APE convention uses.
        writeApe(ape->APETag(true), f == Field::Copyright ? String("Copyright") : property, value);
        return;
    }
    writeProperty(file, property, value);
}

char* getField(TagLib_File* file, const String& name)
{
    TagLib::File* f = fileOf(file);
    if (!f || !f->isValid())
        return nullptr;
    String value;
    if (!readField(f, name, value))
        return nullptr;
    return toC(value);
}

void setField(TagLib_File* file, const String& name, const char* value)
{
    TagLib::File* f = fileOf(file);
    if (f && f->isValid())
        writeField(f, name, fromC(value));
}

// TagLib's ASF setters store an empty text (or "0") as an attribute; every other format
// drops the item, and so do we.
void dropEmptyAsfAttribute(TagLib::Tag* tag, const char* attribute)
{
    if (!attribute)
        return;
    if (auto* asf = dynamic_cast<TagLib::ASF::Tag*>(tag))
        asf->removeItem(attribute);
}

// --- Tag removal ------------------------------------------------------------------------------

void clearTag(TagLib::Tag* tag)
{
    tag->setTitle(String());
    tag->setArtist(String());
    tag->setAlbum(String());
    tag->setComment(String());
    tag->setGenre(String());
    tag->setYear(0);
    tag->setTrack(0);
}

// Empties every tag in memory; for MPEG the stripping itself happens at save time.
void clearAllTags(TagLib::File* file)
{
    if (dynamic_cast<TagLib::MPEG::File*>(file))
        return;
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        flac->strip(TagLib::FLAC::File::ID3v1 | TagLib::FLAC::File::ID3v2);
        if (auto* xiph = flac->xiphComment(false)) {
            xiph->removeAllFields();
            xiph->removeAllPictures();
        }
        flac->removePictures();
        return;
    }
    if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
        xiph->removeAllFields();
        xiph->removeAllPictures();
        return;
    }
    if (auto* ape = dynamic_cast<TagLib::APE::File*>(file)) {
        ape->strip(TagLib::APE::File::AllTags);
        return;
    }
    if (auto* mp4 = dynamic_cast<TagLib::MP4::Tag*>(file->tag())) {
        TagLib::StringList keys;
        for (const auto& item : mp4->itemMap())
            keys.append(item.first);
        for (const auto& key : keys)
            mp4->removeItem(key);
        return;
    }
    if (auto* asf = dynamic_cast<TagLib::ASF::Tag*>(file->tag())) {
        // Album, genre, year and track are attributes that the setters would add back empty,
        // so the content description is cleared first and the attributes removed after.
        clearTag(asf);
        asf->setCopyright(String());
        asf->setRating(String());
        TagLib::StringList names;
        for (const auto& attribute : asf->attributeListMap())
            names.append(attribute.first);
        for (const auto& name : names)
            asf->removeItem(name);
        return;
    }
    if (auto* mpc = dynamic_cast<TagLib::MPC::File*>(file)) {
        mpc->strip(TagLib::MPC::File::AllTags);
        return;
    }
    if (auto* wv = dynamic_cast<TagLib::WavPack::File*>(file)) {
        wv->strip(TagLib::WavPack::File::AllTags);
        return;
    }
    if (auto* tta = dynamic_cast<TagLib::TrueAudio::File*>(file)) {
        tta->strip(TagLib::TrueAudio::File::AllTags);
        return;
    }
    const TagLib::PropertyMap rest = file->setProperties(TagLib::PropertyMap());
    file->removeUnsupportedProperties(rest.unsupportedData());
    if (file->tag())
        clearTag(file->tag());
}

// --- Saving -----------------------------------------------------------------------------------

struct SaveRequest
{
    bool strip = false;
    // MPEG tag types to keep; 0 keeps the ones the file has.
    int mpegTags = 0;
};

// TagLib's part of a save; the stream under the file points at the copy meanwhile.
bool writeTags(TagLib::File* file, const SaveRequest& request)
{
    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        if (request.strip)
            return mpeg->strip(TagLib::MPEG::File::AllTags);
        if (request.mpegTags == 0)
            return mpeg->save(TagLib::MPEG::File::AllTags, TagLib::MPEG::File::StripNone,
                              TagLib::ID3v2::v4);
        return mpeg->save(request.mpegTags, TagLib::MPEG::File::StripOthers, TagLib::ID3v2::v4,
                          TagLib::MPEG::File::Duplicate);
    }
    return file->save();
}

// The values a saved file must give back when it is read again.
struct Snapshot
{
    String title, artist, album, comment, genre;
    unsigned int year = 0;
    unsigned int track = 0;
    String copyright, bpm, key;
};

bool operator==(const Snapshot& a, const Snapshot& b)
{
    return a.title == b.title && a.artist == b.artist && a.album == b.album &&
           a.comment == b.comment && a.genre == b.genre && a.year == b.year && a.track == b.track &&
           a.copyright == b.copyright && a.bpm == b.bpm && a.key == b.key;
}

bool operator!=(const Snapshot& a, const Snapshot& b)
{
    return !(a == b);
}

Snapshot commonFields(TagLib::Tag* tag)
{
    Snapshot s;
    if (tag) {
        s.title = tag->title();
        s.artist = tag->artist();
        s.album = tag->album();
        s.comment = tag->comment();
        s.genre = tag->genre();
        s.year = tag->year();
        s.track = tag->track();
    }
    return s;
}

Snapshot fileFields(TagLib::File* file)
{
    Snapshot s = commonFields(file->tag());
    readField(file, "COPYRIGHT", s.copyright);
    readField(file, "BPM", s.bpm);
    readField(file, "INITIALKEY", s.key);
    return s;
}

Snapshot id3v2Fields(TagLib::ID3v2::Tag* tag)
{
    Snapshot s = commonFields(tag);
    if (tag) {
        readId3v2(tag, "TCOP", s.copyright);
        readId3v2(tag, "TBPM", s.bpm);
        readId3v2(tag, "TKEY", s.key);
    }
    return s;
}

// Compares the file as TagLib holds it after its save with the copy read back from disk. A
// write that went wrong unnoticed, or a value TagLib cannot store (it writes an ASF title or
// comment longer than 32767 characters with a wrapped length, an MP4 track number above
// 65535 cut to 16 bits), shows up here and the save is not completed.
bool sameContent(TagLib::File* memory, TagLib::File* disk, const SaveRequest& request)
{
    if (!disk->isValid() || typeid(*disk) != typeid(*memory))
        return false;
    // A tag never touches the audio, so what TagLib measures of it stays the same.
    const TagLib::AudioProperties* before = memory->audioProperties();
    const TagLib::AudioProperties* after = disk->audioProperties();
    if (before &&
        (!after || before->lengthInMilliseconds() != after->lengthInMilliseconds() ||
         before->sampleRate() != after->sampleRate() || before->channels() != after->channels()))
        return false;
    auto* memoryMpeg = dynamic_cast<TagLib::MPEG::File*>(memory);
    if (!memoryMpeg)
        return fileFields(memory) == fileFields(disk);
    auto* diskMpeg = static_cast<TagLib::MPEG::File*>(disk);
    if (request.strip)
        return !diskMpeg->hasID3v1Tag() && !diskMpeg->hasID3v2Tag() && !diskMpeg->hasAPETag();
    // Each tag type written is compared on its own; TagLib keeps tags it stripped from the
    // file in memory. ID3v1 is left out: it holds 30 bytes of Latin-1 per field by design.
    const bool all = request.mpegTags == 0;
    if ((all || (request.mpegTags & TagLib::MPEG::File::ID3v2)) &&
        id3v2Fields(memoryMpeg->ID3v2Tag()) != id3v2Fields(diskMpeg->ID3v2Tag()))
        return false;
    if ((all || (request.mpegTags & TagLib::MPEG::File::APE)) &&
        commonFields(memoryMpeg->APETag()) != commonFields(diskMpeg->APETag()))
        return false;
    return true;
}

bool readsBack(FileHandle* h, int copyFd, const SaveRequest& request)
{
    const int fd = ::fcntl(copyFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Under the original's name, so that TagLib picks the type it picked for the original.
    tagwrapper::DescriptorStream stream(fd, h->stream->name());
    TagLib::FileRef reread(&stream, true, TagLib::AudioProperties::Average);
    return reread.file() && sameContent(h->ref.file(), reread.file(), request);
}

bool save(FileHandle* h, int options)
{
    TagLib::File* file = h->ref.file();
    if (!file || !file->isValid() || h->stale)
        return false;
    SaveRequest request;
    request.strip = h->removePending;
    request.mpegTags =
        options & (TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::ID3v2 | TagLib::MPEG::File::APE);
    tagwrapper::SaveSteps steps;
    steps.write = [&] { return writeTags(file, request); };
    steps.verify = [&](int copyFd) { return readsBack(h, copyFd, request); };
    switch (tagwrapper::saveSafely(*h->stream, h->identity, steps)) {
    case tagwrapper::SaveResult::Saved:
        h->removePending = false;
        return true;
    case tagwrapper::SaveResult::Failed:
        h->stale = true;
        return false;
    case tagwrapper::SaveResult::Refused:
        break;
    }
    return false;
}

} // namespace

extern "C" {

void taglib_set_strings_unicode(int unicode)
{
    g_unicode = unicode != 0;
}

void taglib_set_string_management_enabled(int management)
{
    g_manageStrings = management != 0;
}

void taglib_id3v2_set_default_text_encoding(TagLib_ID3v2_Encoding encoding)
{
    try {
        String::Type type = String::Latin1;
        switch (encoding) {
        case TagLib_ID3v2_Latin1:
            type = String::Latin1;
            break;
        case TagLib_ID3v2_UTF16:
            type = String::UTF16;
            break;
        case TagLib_ID3v2_UTF16BE:
            type = String::UTF16BE;
            break;
        case TagLib_ID3v2_UTF8:
            type = String::UTF8;
            break;
        }
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(type);
        g_encodingChosen = true;
    } catch (...) {
    }
}

void taglib_tag_free_strings(void)
{
    for (char* s : g_strings)
        std::free(s);
    g_strings.clear();
}

TagLib_File* taglib_file_newu(const char* path)
{
    try {
        if (!isRegularFile(path))
            return nullptr;
        const auto guard = [path](int fd) { return tagwrapper::passesInputGuards(fd, path); };
        return openHandle(path, guard, [](TagLib::IOStream* stream) {
            return TagLib::FileRef(stream, true, TagLib::AudioProperties::Average);
        });
    } catch (...) {
        return nullptr;
    }
}

TagLib_File* taglib_file_new(const char* path)
{
    return taglib_file_newu(path);
}

TagLib_File* taglib_file_new_type(const char* path, TagLib_File_Type type)
{
    try {
        if (!isRegularFile(path))
            return nullptr;
        const auto guard = [type](int fd) { return tagwrapper::passesInputGuards(fd, type); };
        return openHandle(path, guard, [type](TagLib::IOStream* stream) {
            return TagLib::FileRef(createByType(stream, type));
        });
    } catch (...) {
        return nullptr;
    }
}

void taglib_file_free(TagLib_File* file)
{
    try {
        delete handleOf(file);
    } catch (...) {
    }
}

int taglib_file_is_valid(const TagLib_File* file)
{
    try {
        TagLib::File* f = fileOf(file);
        return f && f->isValid() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

TagLib_Tag* taglib_file_tag(const TagLib_File* file)
{
    try {
        TagLib::File* f = fileOf(file);
        if (!f || !f->isValid())
            return nullptr;
        return reinterpret_cast<TagLib_Tag*>(f->tag());
    } catch (...) {
        return nullptr;
    }
}

const TagLib_AudioProperties* taglib_file_audioproperties(const TagLib_File* file)
{
    try {
        TagLib::File* f = fileOf(file);
        if (!f || !f->isValid())
            return nullptr;
        return reinterpret_cast<const TagLib_AudioProperties*>(f->audioProperties());
    } catch (...) {
        return nullptr;
    }
}

int taglib_file_save_ex(TagLib_File* file, int options)
{
    try {
        FileHandle* h = handleOf(file);
        return h && save(h, options) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_file_save(TagLib_File* file)
{
    return taglib_file_save_ex(file, 0);
}

#define TAGWRAPPER_TEXT_FIELD(getter, setter, asfAttribute)                                        \
    char* taglib_tag_##getter(const TagLib_Tag* tag)                                               \
    {                                                                                              \
        try {                                                                                      \
            TagLib::Tag* t = tagOf(tag);                                                           \
            return t ? toC(t->getter()) : nullptr;                                                 \
        } catch (...) {                                                                            \
            return nullptr;                                                                        \
        }                                                                                          \
    }                                                                                              \
    void taglib_tag_set_##getter(TagLib_Tag* tag, const char* text)                                \
    {                                                                                              \
        try {                                                                                      \
            if (TagLib::Tag* t = tagOf(tag)) {                                                     \
                const String value = fromC(text);                                                  \
                t->setter(value);                                                                  \
                if (value.isEmpty())                                                               \
                    dropEmptyAsfAttribute(t, asfAttribute);                                        \
            }                                                                                      \
        } catch (...) {                                                                            \
        }                                                                                          \
    }

// Title, artist and comment live in the ASF content description, not in attributes.
TAGWRAPPER_TEXT_FIELD(title, setTitle, nullptr)
TAGWRAPPER_TEXT_FIELD(artist, setArtist, nullptr)
TAGWRAPPER_TEXT_FIELD(album, setAlbum, "WM/AlbumTitle")
TAGWRAPPER_TEXT_FIELD(comment, setComment, nullptr)
TAGWRAPPER_TEXT_FIELD(genre, setGenre, "WM/Genre")

#undef TAGWRAPPER_TEXT_FIELD

unsigned int taglib_tag_year(const TagLib_Tag* tag)
{
    try {
        TagLib::Tag* t = tagOf(tag);
        return t ? t->year() : 0;
    } catch (...) {
        return 0;
    }
}

unsigned int taglib_tag_track(const TagLib_Tag* tag)
{
    try {
        TagLib::Tag* t = tagOf(tag);
        return t ? t->track() : 0;
    } catch (...) {
        return 0;
    }
}

void taglib_tag_set_year(TagLib_Tag* tag, unsigned int year)
{
    try {
        if (TagLib::Tag* t = tagOf(tag)) {
            t->setYear(year);
            if (year == 0)
                dropEmptyAsfAttribute(t, "WM/Year");
        }
    } catch (...) {
    }
}

void taglib_tag_set_track(TagLib_Tag* tag, unsigned int track)
{
    try {
        if (TagLib::Tag* t = tagOf(tag)) {
            t->setTrack(track);
            if (track == 0)
                dropEmptyAsfAttribute(t, "WM/TrackNumber");
        }
    } catch (...) {
    }
}

char* taglib_tag_get_byname(TagLib_File* file, const char* name)
{
    try {
        if (!name || !*name)
            return nullptr;
        return getField(file, String(name, String::Latin1));
    } catch (...) {
        return nullptr;
    }
}

void taglib_tag_set_byname(TagLib_File* file, const char* name, const char* value)
{
    try {
        if (name && *name)
            setField(file, String(name, String::Latin1), value);
    } catch (...) {
    }
}

char* taglib_tag_get_bpm(TagLib_File* file)
{
    try {
        return getField(file, "BPM");
    } catch (...) {
        return nullptr;
    }
}

void taglib_tag_set_bpm(TagLib_File* file, const char* bpm)
{
    try {
        setField(file, "BPM", bpm);
    } catch (...) {
    }
}

char* taglib_tag_get_key(TagLib_File* file)
{
    try {
        return getField(file, "INITIALKEY");
    } catch (...) {
        return nullptr;
    }
}

void taglib_tag_set_key(TagLib_File* file, const char* key)
{
    try {
        setField(file, "INITIALKEY", key);
    } catch (...) {
    }
}

void taglib_tag_remove(TagLib_File* file)
{
    try {
        FileHandle* h = handleOf(file);
        TagLib::File* f = fileOf(file);
        if (!f || !f->isValid())
            return;
        clearAllTags(f);
        h->removePending = true;
    } catch (...) {
    }
}

int taglib_audioproperties_length(const TagLib_AudioProperties* properties)
{
    try {
        auto* p = reinterpret_cast<const TagLib::AudioProperties*>(properties);
        return p ? p->lengthInSeconds() : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_audioproperties_bitrate(const TagLib_AudioProperties* properties)
{
    try {
        auto* p = reinterpret_cast<const TagLib::AudioProperties*>(properties);
        return p ? p->bitrate() : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_audioproperties_samplerate(const TagLib_AudioProperties* properties)
{
    try {
        auto* p = reinterpret_cast<const TagLib::AudioProperties*>(properties);
        return p ? p->sampleRate() : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_audioproperties_channels(const TagLib_AudioProperties* properties)
{
    try {
        auto* p = reinterpret_cast<const TagLib::AudioProperties*>(properties);
        return p ? p->channels() : 0;
    } catch (...) {
        return 0;
    }
}

} // extern "C"
