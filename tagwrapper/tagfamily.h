// One module per tag family (ID3/MPEG, Xiph, MP4, ASF, APE, and TagLib's other types): each
// knows where the program's fields live in its tags, what a save must leave as it is, how to
// strip its tags and how to tell that a save read back as written. The C entry points and the
// safe save call into a family only through TagFamily.
#pragma once

#include "fieldtable.h"
#include "filekinds.h"

#include <taglib/tstring.h>
#include <taglib/tstringlist.h>

#include <vector>

namespace TagLib {
class File;
class IOStream;
class PropertyMap;
class Tag;
namespace ID3v2 {
class Tag;
}
} // namespace TagLib

namespace tagwrapper {

class Reader;

// What a save is asked to do; `mpegTags` are the MPEG tag types to keep (0: those the file has).
struct SaveRequest
{
    bool strip = false;
    int mpegTags = 0;
    int id3v2Version = 0; // 3 or 4 to write the ID3v2 tag in that version; 0 keeps its own
};

class TagFamily
{
public:
    virtual ~TagFamily() = default;

    // The types of file the family opens, by extension (and C type).
    virtual const std::vector<FileKind>& kinds() const = 0;
    virtual bool handles(TagLib::File& file) const = 0;

    // A text field as shown: all of the item's values joined by kValueSeparator, empty when
    // the file has none.
    virtual TagLib::String text(TagLib::File& file, Field field) const = 0;
    // Stores `value` as the item's only value, or removes the item when `value` is empty.
    // Called only with a value other than text() gives, so an untouched item keeps its bytes.
    virtual void setText(TagLib::File& file, Field field, const TagLib::String& value) const = 0;

    // Track or year as a number, 0 when unset.
    virtual unsigned int number(TagLib::File& file, Field field) const;
    // Called only with a number other than number() gives. A new track number keeps the
    // track total the item holds.
    virtual void setNumber(TagLib::File& file, Field field, unsigned int value) const = 0;

    // Track or year in full as stored: "3/12" (with the track total), "2019-05-17"; the number
    // as text where the item holds only that; empty when unset.
    virtual TagLib::String fullText(TagLib::File& file, Field field) const;
    // Stores a track with its total ("3/12") or a full date ("2019-05-17", "2019-05") in the
    // format's track or date item. Called only with a text other than fullText() gives.
    virtual void setFullText(TagLib::File& file, Field field, const TagLib::String& value) const;

    // Empties every tag of the file in memory; the save that follows writes the result.
    virtual void strip(TagLib::File& file) const = 0;
    // TagLib's part of a save, into the file's stream.
    virtual bool write(TagLib::File& file, const SaveRequest& request) const;
    // Called once when the file is opened, `stored` reading its bytes. False when TagLib read
    // the file's tags only in part, so that a save would drop what it could not read; such a
    // file is never saved (a removal of its tags still is). A family that can read the rest
    // itself adds it to TagLib's view here.
    virtual bool readInFull(TagLib::File& file, const Reader& stored) const;
    // The saved file parsed anew from `stream`, for a family whose save writes parts TagLib
    // does not know of (the offsets TagLib keeps would be wrong for the next save); null when
    // TagLib's own view of the file stays right.
    virtual TagLib::File* reopened(TagLib::IOStream& stream) const;
    // True when `disk`, the saved file read anew, holds what `memory` was saved with.
    virtual bool readsBack(TagLib::File& memory, TagLib::File& disk,
                           const SaveRequest& request) const;
    // False for a file TagLib opened although it holds no audio at all.
    virtual bool holdsAudio(TagLib::File& file) const;
    // The ID3v2 tag that holds a file's named items, for a family that keeps them there alone
    // (so that the file's other tags never move into it), made when `create` is set; null for
    // the other families, or when there is none.
    virtual TagLib::ID3v2::Tag* namedItemsTag(TagLib::File& file, bool create) const;
    virtual bool keepsNamedItemsInId3v2() const;
};

// The family that handles the file; TagLib's types without a module of their own go to a
// family working through TagLib's generic property interface.
const TagFamily& familyOf(TagLib::File& file);

// The families, one module each, in the order they are asked.
const TagFamily& id3Family();
const TagFamily& wavFamily();
const TagFamily& aiffFamily();
const TagFamily& trueAudioFamily();
const TagFamily& xiphFamily();
const TagFamily& mp4Family();
const TagFamily& asfFamily();
const TagFamily& apeFamily();
const TagFamily& wavPackFamily();
const TagFamily& musepackFamily();
const TagFamily& otherFamily();

// The encoding of ID3v2 text frames the ID3 family writes; UTF-8 unless set otherwise. Frames
// it does not write keep the encoding they have (TagLib's own default encoding would convert
// every frame it parses).
void setId3v2TextEncoding(TagLib::String::Type encoding);

// --- Helpers the families share ------------------------------------------------------------------

// Several values of one item are shown joined by this, in every format; an unchanged text
// keeps them separate values, a changed one is stored as one value.
inline const char* const kValueSeparator = "; ";

TagLib::String joinedValues(const TagLib::StringList& values);

// The values a changed text is stored as: a field of several values is split at
// kValueSeparator (empty parts left out), every other field is one value as typed.
TagLib::StringList valuesToStore(Field field, const TagLib::String& text);

// A property's values through TagLib's property interface; empty when the file has none.
TagLib::StringList propertyValues(TagLib::File& file, const TagLib::String& name);
// Stores `value` as the property's only value, or removes the property when it is empty.
void setPropertyValue(TagLib::File& file, const TagLib::String& name, const TagLib::String& value);

// The properties of the tag a named property lives in: the ID3v2 tag of an MPEG file (so the
// file's APE or ID3v1 items never move into it), the file's merged view otherwise.
TagLib::PropertyMap namedProperties(TagLib::File& file);
// Stores `values` as the property's values (none removes it), every other item left as it is.
// False, with nothing changed, when the file's format cannot store the name.
bool setNamedProperty(TagLib::File& file, const TagLib::String& name,
                      const TagLib::StringList& values);

// The number a track or date text begins with ("3/12" gives 3, "2019-05-17" 2019); 0 without.
unsigned int leadingNumber(const TagLib::String& text);
// The number after the slash of a track text ("3/12" gives 12); 0 without.
unsigned int trackTotal(const TagLib::String& text);

// The stored track text with its number replaced and anything after it ("/12") kept; empty
// for 0.
TagLib::String withTrackNumber(const TagLib::String& stored, unsigned int number);

// Every field as a family shows them, for comparing a file before and after its save: the
// text of a text field, the number of a number field.
struct FieldValues
{
    TagLib::String texts[kFieldCount];
    unsigned int numbers[kFieldCount] = {};
};
bool operator==(const FieldValues& a, const FieldValues& b);
FieldValues fieldValues(const TagFamily& family, TagLib::File& file);

// A field of TagLib's generic tag as it gives it (for a file with several tags, the first that
// has it); empty for the other fields.
TagLib::String genericText(TagLib::Tag* tag, Field field);
// Sets a field of the generic tag; other fields are left alone.
void setGenericText(TagLib::Tag* tag, Field field, const TagLib::String& value);
// Sets track or year through TagLib's generic tag.
void setGenericNumber(TagLib::Tag* tag, Field field, unsigned int value);

// Same audio as far as TagLib measures it: a tag never touches the audio.
bool sameAudio(TagLib::File& memory, TagLib::File& disk);

} // namespace tagwrapper
