// The fields the C interface reads and writes, and where each tag family keeps them: one row
// per field, by the names each format gives its item. A family's module holds only what its
// format does differently (an MP4 BPM that is no number, the ASF content description).
#pragma once

#include <taglib/tag.h>

#include <cstddef>
#include <iterator>

namespace tagwrapper {

enum class Field
{
    Title,
    Artist,
    Album,
    Track,
    Year,
    Genre,
    Comment,
    Copyright,
    Bpm,
    Key
};

struct FieldRow
{
    Field field;
    const char* property;   // TagLib's property name, which Vorbis comments use as well
    const char* id3v2Frame; // frame id
    const char* apeItem;    // APEv2 key as the convention spells it (TagLib's is upper case)
    // The attribute holding the field; null for a field of the content description, whose
    // further values go into the attribute named `asfSpill`.
    const char* asfAttribute;
    const char* asfSpill;
    const char* mp4Item; // atom or free-form item
    bool number;         // track and year: a number, stored in full on request
    bool severalValues;  // a changed text is split at kValueSeparator into several values
    bool reachedByName;  // taglib_tag_get_byname takes `property` (or `alias`) for it
    const char* alias;   // another name taglib_tag_get_byname takes; null for none
    // The field in TagLib's generic tag, which an ID3v1 tag holds as well; null outside it.
    TagLib::String (TagLib::Tag::*genericGet)() const;
    void (TagLib::Tag::*genericSet)(const TagLib::String&);
};

// In Field's order.
// clang-format off
inline constexpr FieldRow kFieldRows[] = {
//   field             property       ID3v2   APE          ASF attribute         ASF spill      MP4
//   number several byname alias  generic tag
    {Field::Title,     "TITLE",       "TIT2", "Title",     nullptr,              "Title",       "\251nam",
     false, false, false, nullptr, &TagLib::Tag::title, &TagLib::Tag::setTitle},
    {Field::Artist,    "ARTIST",      "TPE1", "Artist",    nullptr,              "Author",      "\251ART",
     false, true,  false, nullptr, &TagLib::Tag::artist, &TagLib::Tag::setArtist},
    {Field::Album,     "ALBUM",       "TALB", "Album",     "WM/AlbumTitle",      nullptr,       "\251alb",
     false, false, false, nullptr, &TagLib::Tag::album, &TagLib::Tag::setAlbum},
    {Field::Track,     "TRACKNUMBER", "TRCK", "Track",     "WM/TrackNumber",     nullptr,       "trkn",
     true,  false, true,  nullptr, nullptr, nullptr},
    {Field::Year,      "DATE",        "TDRC", "Year",      "WM/Year",            nullptr,       "\251day",
     true,  false, true,  nullptr, nullptr, nullptr},
    {Field::Genre,     "GENRE",       "TCON", "Genre",     "WM/Genre",           nullptr,       "\251gen",
     false, true,  false, nullptr, &TagLib::Tag::genre, &TagLib::Tag::setGenre},
    {Field::Comment,   "COMMENT",     "COMM", "Comment",   nullptr,              "Description", "\251cmt",
     false, false, false, nullptr, &TagLib::Tag::comment, &TagLib::Tag::setComment},
    {Field::Copyright, "COPYRIGHT",   "TCOP", "Copyright", nullptr,              "Copyright",   "cprt",
     false, false, true,  nullptr, nullptr, nullptr},
    {Field::Bpm,       "BPM",         "TBPM", "BPM",       "WM/BeatsPerMinute",  nullptr,       "tmpo",
     false, false, true,  nullptr, nullptr, nullptr},
    {Field::Key,       "INITIALKEY",  "TKEY", "INITIALKEY", "WM/InitialKey",     nullptr,       "----:com.apple.iTunes:initialkey",
     false, false, true,  "KEY",   nullptr, nullptr},
};
// clang-format on

inline constexpr std::size_t kFieldCount = std::size(kFieldRows);

constexpr const FieldRow& rowOf(Field field)
{
    return kFieldRows[static_cast<std::size_t>(field)];
}

namespace detail {
constexpr bool rowsInFieldOrder()
{
    for (std::size_t i = 0; i < kFieldCount; ++i) {
        if (static_cast<std::size_t>(kFieldRows[i].field) != i)
            return false;
    }
    return true;
}
} // namespace detail
static_assert(detail::rowsInFieldOrder(), "one row per field, in Field's order");

} // namespace tagwrapper
