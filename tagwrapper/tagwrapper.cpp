#include "tagwrapper.h"

#include "fileinfo.h"
#include "guardreader.h"
#include "id3v2frames.h"
#include "inputguards.h"
#include "pictures.h"
#include "safesave.h"
#include "tagfamily.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

// The handle types of the interface are never defined: a TagLib_File and a TagLib_Tag are
// both our FileHandle, a TagLib_AudioProperties is TagLib's own object.
struct TagLib_File_s;
struct TagLib_Tag_s;
struct TagLib_AudioProperties_s;

namespace {

using TagLib::String;
using tagwrapper::Field;

struct FileHandle
{
    // TagLib reads and writes through this stream, never by the path; it outlives ref.
    std::unique_ptr<tagwrapper::DescriptorStream> stream;
    TagLib::FileRef ref;
    const tagwrapper::TagFamily* family = nullptr;
    // The file as it was when opened (and after each save): a save into a file that changed
    // in the meantime would write an edit based on contents that are no longer there.
    tagwrapper::FileIdentity identity;
    // Something was set to a value the file did not hold; without that a save has nothing to
    // write and leaves the file, and its modification time, alone.
    bool changed = false;
    // Tag removal is applied by the save that follows, because for MPEG files TagLib strips
    // straight on disk.
    bool removePending = false;
    // TagLib read the file's tags only in part: a save would write them without the rest.
    bool readInPart = false;
    // A picture was set or removed: the save reads every picture back.
    bool picturesChanged = false;
    // The ID3v2 version the next save writes; 0 keeps the tag's own.
    int id3v2Version = 0;
    // A save failed after TagLib had written into the copy: the offsets TagLib keeps describe
    // that copy, not the file, so this handle saves nothing any more.
    bool stale = false;
};

// UTF-8 from the start, as TagLib's own C binding does: a write made before any call to
// taglib_set_strings_unicode() must not store UTF-8 bytes as Latin-1 characters.
bool g_unicode = true;
bool g_manageStrings = true;
std::vector<char*> g_strings;

FileHandle* handleOf(const TagLib_File* file)
{
    return reinterpret_cast<FileHandle*>(const_cast<TagLib_File*>(file));
}

FileHandle* handleOf(const TagLib_Tag* tag)
{
    return reinterpret_cast<FileHandle*>(const_cast<TagLib_Tag*>(tag));
}

// The file behind a handle, null unless it is open and valid.
TagLib::File* validFileOf(const FileHandle* h)
{
    TagLib::File* f = h ? h->ref.file() : nullptr;
    return f && f->isValid() ? f : nullptr;
}

template <typename Handle> TagLib::File* validFile(const Handle* handle)
{
    return validFileOf(handleOf(handle));
}

String fromC(const char* text)
{
    if (!text)
        return String();
    return String(text, g_unicode ? String::UTF8 : String::Latin1);
}

// A copy of `size` bytes and a NUL, kept for taglib_tag_free_strings() when strings are
// managed.
char* keptCopy(const char* bytes, std::size_t size)
{
    char* copy = static_cast<char*>(std::malloc(size + 1));
    if (!copy)
        return nullptr;
    if (size > 0) // an empty picture's bytes may be a null pointer
        std::memcpy(copy, bytes, size);
    copy[size] = '\0';
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

char* toC(const String& text)
{
    const std::string bytes = text.to8Bit(g_unicode);
    return keptCopy(bytes.data(), bytes.size());
}

// Opening a FIFO or a device makes TagLib block or read forever; only regular files (after
// following links) are handed to it.
bool isRegularFile(const char* path)
{
    struct stat st;
    return path && *path && ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
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
    if (!stream || !guard(stream->reader()))
        return nullptr;
    TagLib::FileRef ref = create(stream.get());
    TagLib::File* file = ref.file();
    if (!file || !file->isOpen())
        return nullptr;
    const tagwrapper::TagFamily& family = tagwrapper::familyOf(*file);
    if (!family.holdsAudio(*file))
        return nullptr;
    const bool readInFull = family.readInFull(*file, stream->reader());
    auto* h = new FileHandle{std::move(stream), ref, &family, identity};
    h->readInPart = !readInFull;
    return reinterpret_cast<TagLib_File*>(h);
}

TagLib::File* createByType(TagLib::IOStream* stream, TagLib_File_Type type)
{
    const tagwrapper::FileKind* kind = tagwrapper::fileKindOfType(type);
    return kind ? kind->create(stream) : nullptr;
}

// --- Fields -----------------------------------------------------------------------------------

// The fields of the tag handle answer an empty text when unset, those reached through the file
// NULL, as TagLib's C binding does.
enum class WhenUnset
{
    Empty,
    Null
};

bool isNumberField(Field field)
{
    return tagwrapper::rowOf(field).number;
}

// Track and year addressed by name are texts in full ("3/12", "2019-05-17").
String storedText(const FileHandle* h, TagLib::File& f, Field field)
{
    return isNumberField(field) ? h->family->fullText(f, field) : h->family->text(f, field);
}

char* getText(const FileHandle* h, Field field, WhenUnset unset)
{
    TagLib::File* f = validFileOf(h);
    if (!f)
        return nullptr;
    const String value = storedText(h, *f, field);
    return value.isEmpty() && unset == WhenUnset::Null ? nullptr : toC(value);
}

// A text the item already reads as leaves the item exactly as stored: its bytes, encoding,
// several values.
void setText(FileHandle* h, Field field, const char* text)
{
    TagLib::File* f = validFileOf(h);
    if (!f)
        return;
    const String value = fromC(text);
    if (value == storedText(h, *f, field))
        return;
    if (isNumberField(field))
        h->family->setFullText(*f, field, value);
    else
        h->family->setText(*f, field, value);
    h->changed = true;
}

unsigned int getNumber(const FileHandle* h, Field field)
{
    TagLib::File* f = validFileOf(h);
    return f ? h->family->number(*f, field) : 0;
}

// The number the item already reads as keeps its full date or track total.
void setNumber(FileHandle* h, Field field, unsigned int value)
{
    TagLib::File* f = validFileOf(h);
    if (!f || value == h->family->number(*f, field))
        return;
    h->family->setNumber(*f, field, value);
    h->changed = true;
}

// Fields addressed by name: the program's three, and any other the file's property interface
// knows.
bool fieldNamed(const String& upperName, Field& field)
{
    for (const tagwrapper::FieldRow& row : tagwrapper::kFieldRows) {
        if (row.reachedByName &&
            (upperName == row.property || (row.alias && upperName == row.alias))) {
            field = row.field;
            return true;
        }
    }
    return false;
}

char* getProperty(const FileHandle* h, const String& name)
{
    TagLib::File* f = validFileOf(h);
    if (!f)
        return nullptr;
    const TagLib::StringList values = tagwrapper::propertyValues(*f, name);
    return values.isEmpty() ? nullptr : toC(tagwrapper::joinedValues(values));
}

void setProperty(FileHandle* h, const String& name, const char* text)
{
    TagLib::File* f = validFileOf(h);
    if (!f)
        return;
    const String value = fromC(text);
    if (value == tagwrapper::joinedValues(tagwrapper::propertyValues(*f, name)))
        return;
    tagwrapper::setPropertyValue(*f, name, value);
    h->changed = true;
}

// A property name as TagLib's property interface takes it: printable ASCII without "=", upper
// case; empty for anything else.
String propertyName(const char* name)
{
    if (!name || !*name)
        return String();
    for (const char* c = name; *c; ++c) {
        if (*c < 0x20 || *c > 0x7e || *c == '=')
            return String();
    }
    return String(name, String::Latin1).upper();
}

TagLib::StringList namedValues(const TagLib_File* file, const char* name)
{
    TagLib::File* f = validFile(file);
    const String key = propertyName(name);
    if (!f || key.isEmpty())
        return TagLib::StringList();
    const TagLib::PropertyMap map = tagwrapper::namedProperties(*f);
    const auto it = map.find(key);
    return it == map.end() ? TagLib::StringList() : it->second;
}

// --- Pictures ---------------------------------------------------------------------------------

// The picture at `index` of the handle's file; false when there is none.
bool pictureAt(const TagLib_File* file, int index, tagwrapper::Picture& picture)
{
    TagLib::File* f = validFile(file);
    if (!f || index < 0)
        return false;
    const std::vector<tagwrapper::Picture> pictures = tagwrapper::picturesOf(*f);
    if (static_cast<std::size_t>(index) >= pictures.size())
        return false;
    picture = pictures[static_cast<std::size_t>(index)];
    return true;
}

// A picture the file already holds under its type and description leaves the file as it is.
bool holdsAlready(TagLib::File& file, const tagwrapper::Picture& picture)
{
    for (const tagwrapper::Picture& held : tagwrapper::picturesOf(file)) {
        if (held.type == picture.type && held.description == picture.description)
            return held == picture;
    }
    return false;
}

void notePictureChange(FileHandle* h)
{
    h->changed = true;
    h->picturesChanged = true;
}

// A picture as the C interface passes it in.
struct CoverArguments
{
    int type;
    const char* mime;
    const char* description;
    const char* data;
    unsigned int size;
};

enum class CoverPlace
{
    Replacing, // the first of the same type and description
    After
};

int storeCover(TagLib_File* file, const CoverArguments& cover, CoverPlace place)
{
    TagLib::File* f = validFile(file);
    if (!f || !cover.mime || !cover.description || !cover.data ||
        cover.size > tagwrapper::kMaxPictureBytes)
        return 0;
    const tagwrapper::Picture picture{cover.type, fromC(cover.mime), fromC(cover.description),
                                      TagLib::ByteVector(cover.data, cover.size)};
    if (place == CoverPlace::Replacing && holdsAlready(*f, picture))
        return 1;
    const bool stored = place == CoverPlace::Replacing ? tagwrapper::setPicture(*f, picture)
                                                       : tagwrapper::addPicture(*f, picture);
    if (stored)
        notePictureChange(handleOf(file));
    return stored ? 1 : 0;
}

bool removePictures(TagLib::File& file, int index)
{
    if (index >= 0)
        return tagwrapper::removePicture(file, static_cast<std::size_t>(index));
    bool removed = false;
    while (tagwrapper::removePicture(file, 0))
        removed = true;
    return removed;
}

// --- Saving -----------------------------------------------------------------------------------

// Compares the file as TagLib holds it after its save with the copy read back from disk. A
// write that went wrong unnoticed, or a value TagLib cannot store (it writes an ASF title or
// comment longer than 32767 characters with a wrapped length, an MP4 track number above
// 65535 cut to 16 bits), shows up here and the save is not completed.
// Every item TagLib reads, its values in any order (several values spread over an ASF file's
// header objects come back in another order), and what it reads but cannot map.
std::vector<std::string> itemsOf(TagLib::File& file)
{
    std::vector<std::string> items;
    const TagLib::PropertyMap properties = file.properties();
    for (const auto& property : properties) {
        for (const String& value : property.second)
            items.push_back(property.first.to8Bit(true) + '=' + value.to8Bit(true));
    }
    for (const String& unsupported : properties.unsupportedData())
        items.push_back(unsupported.to8Bit(true));
    std::sort(items.begin(), items.end());
    return items;
}

// A tag written as 2.3 keeps a full date's day and time in TDAT and TIME, frames TagLib reads
// only as a part of the date (or, as read from another program's tag, not at all), which the
// date compared already holds.
std::vector<std::string> withoutDateParts(std::vector<std::string> items, bool writtenAs23)
{
    if (writtenAs23) {
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [](const std::string& item) {
                                       return item == "UNKNOWN/TDAT" || item == "UNKNOWN/TIME";
                                   }),
                    items.end());
    }
    return items;
}

bool sameContent(const FileHandle* h, TagLib::File* disk, const tagwrapper::SaveRequest& request)
{
    TagLib::File* memory = h->ref.file();
    if (!disk->isValid() || typeid(*disk) != typeid(*memory))
        return false;
    // TagLib drops some items it read when it writes them (an MP4 free-form item of a kind it
    // does not render): the save must not lose them unseen.
    const bool picturesReadBack =
        !h->picturesChanged || request.strip ||
        tagwrapper::samePictures(tagwrapper::picturesOf(*memory), tagwrapper::picturesOf(*disk));
    const TagLib::ID3v2::Tag* written = h->family->namedItemsTag(*disk, false);
    const bool as23 =
        request.id3v2Version == 3 || (written && written->header()->majorVersion() == 3);
    return picturesReadBack && tagwrapper::sameAudio(*memory, *disk) &&
           h->family->readsBack(*memory, *disk, request) &&
           withoutDateParts(itemsOf(*memory), as23) == withoutDateParts(itemsOf(*disk), as23);
}

bool readsBack(const FileHandle* h, int copyFd, const tagwrapper::SaveRequest& request)
{
    const int fd = ::fcntl(copyFd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Under the original's name, so that TagLib picks the type it picked for the original.
    tagwrapper::DescriptorStream stream(fd, h->stream->name());
    TagLib::FileRef reread(&stream, true, TagLib::AudioProperties::Average);
    if (!reread.file())
        return false;
    // Read as the handle's file was: a family that reads on where TagLib stops does so here too.
    h->family->readInFull(*reread.file(), stream.reader());
    return sameContent(h, reread.file(), request);
}

bool save(FileHandle* h, int options)
{
    TagLib::File* file = h->ref.file();
    if (!file || !file->isValid() || h->stale)
        return false;
    if (!h->changed && !h->removePending)
        return true;
    if (h->readInPart && !h->removePending)
        return false;
    tagwrapper::SaveRequest request;
    request.strip = h->removePending;
    request.mpegTags =
        options & (TagLib::MPEG::File::ID3v1 | TagLib::MPEG::File::ID3v2 | TagLib::MPEG::File::APE);
    request.id3v2Version = h->id3v2Version;
    tagwrapper::SaveSteps steps;
    steps.write = [&] { return h->family->write(*file, request); };
    steps.verify = [&](int copyFd) { return readsBack(h, copyFd, request); };
    switch (tagwrapper::saveSafely(*h->stream, h->identity, steps)) {
    case tagwrapper::SaveResult::Saved:
        if (TagLib::File* reparsed = h->family->reopened(*h->stream)) {
            h->ref = TagLib::FileRef(reparsed);
            h->family->readInFull(*reparsed, h->stream->reader());
        }
        h->removePending = false;
        h->changed = false;
        h->picturesChanged = false;
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
        tagwrapper::setId3v2TextEncoding(type);
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
        const auto guard = [path](const tagwrapper::Reader& reader) {
            return tagwrapper::passesInputGuards(reader, path);
        };
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
        const auto guard = [type](const tagwrapper::Reader& reader) {
            return tagwrapper::passesInputGuards(reader, type);
        };
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
        return validFile(file) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

TagLib_Tag* taglib_file_tag(const TagLib_File* file)
{
    try {
        TagLib::File* f = validFile(file);
        if (!f || !f->tag())
            return nullptr;
        return reinterpret_cast<TagLib_Tag*>(handleOf(file));
    } catch (...) {
        return nullptr;
    }
}

const TagLib_AudioProperties* taglib_file_audioproperties(const TagLib_File* file)
{
    try {
        TagLib::File* f = validFile(file);
        return f ? reinterpret_cast<const TagLib_AudioProperties*>(f->audioProperties()) : nullptr;
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

int taglib_batch_begin(TagLib_Batch_Ready ready, void* context)
{
    try {
        std::function<bool()> callback;
        if (ready)
            callback = [ready, context] { return ready(context) != 0; };
        return tagwrapper::beginBatch(std::move(callback)) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_batch_held(void)
{
    return int(tagwrapper::heldSaves());
}

int taglib_batch_commit(int* placed, int count)
{
    try {
        const bool open = tagwrapper::batchOpen();
        const std::vector<bool> results = tagwrapper::commitBatch();
        for (int i = 0; placed && i < count && size_t(i) < results.size(); ++i)
            placed[i] = results[size_t(i)] ? 1 : 0;
        return open ? int(results.size()) : -1;
    } catch (...) {
        return -1;
    }
}

int taglib_file_read_in_full(const TagLib_File* file)
{
    try {
        const FileHandle* h = handleOf(file);
        return h && !h->readInPart ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_file_save(TagLib_File* file)
{
    return taglib_file_save_ex(file, 0);
}

#define TAGWRAPPER_TEXT_FIELD(name, field)                                                         \
    char* taglib_tag_##name(const TagLib_Tag* tag)                                                 \
    {                                                                                              \
        try {                                                                                      \
            return getText(handleOf(tag), field, WhenUnset::Empty);                                \
        } catch (...) {                                                                            \
            return nullptr;                                                                        \
        }                                                                                          \
    }                                                                                              \
    void taglib_tag_set_##name(TagLib_Tag* tag, const char* text)                                  \
    {                                                                                              \
        try {                                                                                      \
            setText(handleOf(tag), field, text);                                                   \
        } catch (...) {                                                                            \
        }                                                                                          \
    }

TAGWRAPPER_TEXT_FIELD(title, Field::Title)
TAGWRAPPER_TEXT_FIELD(artist, Field::Artist)
TAGWRAPPER_TEXT_FIELD(album, Field::Album)
TAGWRAPPER_TEXT_FIELD(comment, Field::Comment)
TAGWRAPPER_TEXT_FIELD(genre, Field::Genre)

#undef TAGWRAPPER_TEXT_FIELD

unsigned int taglib_tag_year(const TagLib_Tag* tag)
{
    try {
        return getNumber(handleOf(tag), Field::Year);
    } catch (...) {
        return 0;
    }
}

unsigned int taglib_tag_track(const TagLib_Tag* tag)
{
    try {
        return getNumber(handleOf(tag), Field::Track);
    } catch (...) {
        return 0;
    }
}

void taglib_tag_set_year(TagLib_Tag* tag, unsigned int year)
{
    try {
        setNumber(handleOf(tag), Field::Year, year);
    } catch (...) {
    }
}

void taglib_tag_set_track(TagLib_Tag* tag, unsigned int track)
{
    try {
        setNumber(handleOf(tag), Field::Track, track);
    } catch (...) {
    }
}

char* taglib_tag_get_byname(TagLib_File* file, const char* name)
{
    try {
        if (!name || !*name)
            return nullptr;
        const String upper = String(name, String::Latin1).upper();
        Field field;
        if (fieldNamed(upper, field))
            return getText(handleOf(file), field, WhenUnset::Null);
        return getProperty(handleOf(file), upper);
    } catch (...) {
        return nullptr;
    }
}

void taglib_tag_set_byname(TagLib_File* file, const char* name, const char* value)
{
    try {
        if (!name || !*name)
            return;
        const String upper = String(name, String::Latin1).upper();
        Field field;
        if (fieldNamed(upper, field))
            setText(handleOf(file), field, value);
        else
            setProperty(handleOf(file), upper, value);
    } catch (...) {
    }
}

int taglib_property_count(TagLib_File* file, const char* name)
{
    try {
        return static_cast<int>(namedValues(file, name).size());
    } catch (...) {
        return 0;
    }
}

char* taglib_property_value(TagLib_File* file, const char* name, int index)
{
    try {
        const TagLib::StringList values = namedValues(file, name);
        if (index < 0 || static_cast<unsigned int>(index) >= values.size())
            return nullptr;
        return toC(values[static_cast<unsigned int>(index)]);
    } catch (...) {
        return nullptr;
    }
}

int taglib_property_set(TagLib_File* file, const char* name, const char* const* values, int count)
{
    try {
        FileHandle* h = handleOf(file);
        TagLib::File* f = validFileOf(h);
        const String key = propertyName(name);
        if (!f || key.isEmpty() || count < 0 || (count > 0 && !values))
            return 0;
        TagLib::StringList wanted;
        for (int i = 0; i < count; ++i)
            wanted.append(fromC(values[i]));
        if (wanted == namedValues(file, name))
            return 1;
        if (!tagwrapper::setNamedProperty(*f, key, wanted))
            return 0;
        h->changed = true;
        return 1;
    } catch (...) {
        return 0;
    }
}

int taglib_property_name_count(TagLib_File* file)
{
    try {
        TagLib::File* f = validFile(file);
        return f ? static_cast<int>(tagwrapper::namedProperties(*f).size()) : 0;
    } catch (...) {
        return 0;
    }
}

char* taglib_property_name(TagLib_File* file, int index)
{
    try {
        TagLib::File* f = validFile(file);
        if (!f || index < 0)
            return nullptr;
        const TagLib::PropertyMap map = tagwrapper::namedProperties(*f);
        int at = 0;
        for (const auto& property : map) {
            if (at++ == index)
                return toC(property.first);
        }
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

char* taglib_file_tag_types(TagLib_File* file)
{
    try {
        TagLib::File* f = validFile(file);
        return f ? toC(tagwrapper::tagTypes(*f)) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

char* taglib_file_codec(TagLib_File* file)
{
    try {
        TagLib::File* f = validFile(file);
        return f ? toC(tagwrapper::codecName(*f)) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

int taglib_file_id3v2_version(TagLib_File* file)
{
    try {
        auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(validFile(file));
        return mpeg && mpeg->hasID3v2Tag()
                   ? static_cast<int>(mpeg->ID3v2Tag()->header()->majorVersion())
                   : 0;
    } catch (...) {
        return 0;
    }
}

char* taglib_file_id3v2_lost_frames(TagLib_File* file, int version)
{
    try {
        auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(validFile(file));
        if (!mpeg || !mpeg->hasID3v2Tag() || (version != 3 && version != 4))
            return toC(String());
        return toC(tagwrapper::framesLostIn(*mpeg->ID3v2Tag(), version));
    } catch (...) {
        return nullptr;
    }
}

int taglib_file_set_id3v2_version(TagLib_File* file, int version)
{
    try {
        FileHandle* h = handleOf(file);
        auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(validFileOf(h));
        if (!mpeg || !mpeg->hasID3v2Tag() || (version != 3 && version != 4))
            return 0;
        if (static_cast<int>(mpeg->ID3v2Tag()->header()->majorVersion()) != version) {
            tagwrapper::dropFramesLostIn(*mpeg->ID3v2Tag(), version);
            h->id3v2Version = version;
            h->changed = true;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

char* taglib_tag_get_bpm(TagLib_File* file)
{
    try {
        return getText(handleOf(file), Field::Bpm, WhenUnset::Null);
    } catch (...) {
        return nullptr;
    }
}

void taglib_tag_set_bpm(TagLib_File* file, const char* bpm)
{
    try {
        setText(handleOf(file), Field::Bpm, bpm);
    } catch (...) {
    }
}

char* taglib_tag_get_key(TagLib_File* file)
{
    try {
        return getText(handleOf(file), Field::Key, WhenUnset::Null);
    } catch (...) {
        return nullptr;
    }
}

void taglib_tag_set_key(TagLib_File* file, const char* key)
{
    try {
        setText(handleOf(file), Field::Key, key);
    } catch (...) {
    }
}

void taglib_tag_remove(TagLib_File* file)
{
    try {
        TagLib::File* f = validFile(file);
        if (!f)
            return;
        FileHandle* h = handleOf(file);
        h->family->strip(*f);
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

int taglib_audioproperties_length_ms(const TagLib_AudioProperties* properties)
{
    try {
        auto* p = reinterpret_cast<const TagLib::AudioProperties*>(properties);
        return p ? p->lengthInMilliseconds() : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_tag_get_cover_count(TagLib_File* file)
{
    try {
        TagLib::File* f = validFile(file);
        return f ? static_cast<int>(tagwrapper::picturesOf(*f).size()) : 0;
    } catch (...) {
        return 0;
    }
}

int taglib_tag_get_cover(TagLib_File* file, int index, int* type, char** mime, char** description)
{
    try {
        tagwrapper::Picture picture;
        if (!pictureAt(file, index, picture))
            return 0;
        if (type)
            *type = picture.type;
        if (mime)
            *mime = toC(picture.mimeType);
        if (description)
            *description = toC(picture.description);
        return 1;
    } catch (...) {
        return 0;
    }
}

char* taglib_tag_get_cover_data(TagLib_File* file, int index, unsigned int* size)
{
    try {
        tagwrapper::Picture picture;
        if (!size || !pictureAt(file, index, picture))
            return nullptr;
        char* bytes = keptCopy(picture.data.data(), picture.data.size());
        *size = bytes ? picture.data.size() : 0;
        return bytes;
    } catch (...) {
        return nullptr;
    }
}

int taglib_tag_set_cover(TagLib_File* file, int type, const char* mime, const char* description,
                         const char* data, unsigned int size)
{
    try {
        return storeCover(file, {type, mime, description, data, size}, CoverPlace::Replacing);
    } catch (...) {
        return 0;
    }
}

int taglib_tag_add_cover(TagLib_File* file, int type, const char* mime, const char* description,
                         const char* data, unsigned int size)
{
    try {
        return storeCover(file, {type, mime, description, data, size}, CoverPlace::After);
    } catch (...) {
        return 0;
    }
}

int taglib_tag_remove_cover(TagLib_File* file, int index)
{
    try {
        TagLib::File* f = validFile(file);
        if (!f || index < -1 || !removePictures(*f, index))
            return 0;
        notePictureChange(handleOf(file));
        return 1;
    } catch (...) {
        return 0;
    }
}

} // extern "C"
