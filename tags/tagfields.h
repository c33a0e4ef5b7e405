#pragma once

#include "tags/audiotag.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"

#include <array>
#include <cstddef>

namespace tagora {

// How the tag library reaches one field: which entry points read and write it. The library
// grew its fields in steps, so there are four ways, and each field keeps the one it has
// always used: callers (tests with a recording library among them) see the same calls.
struct FieldCalls
{
    enum class Way
    {
        TagText,   // a text through the tag handle (taglib_tag_title)
        TagNumber, // a number through the tag handle, its full form by name (track, year)
        FileText,  // a text through the file handle (taglib_tag_get_bpm)
        ByName     // a text through taglib_tag_get_byname and taglib_tag_set_byname
    };
    using TagTextGet = decltype(TagLibraryEntryPoints::taglib_tag_title) TagLibraryEntryPoints::*;
    using TagTextSet =
        decltype(TagLibraryEntryPoints::taglib_tag_set_title) TagLibraryEntryPoints::*;
    using NumberGet = decltype(TagLibraryEntryPoints::taglib_tag_track) TagLibraryEntryPoints::*;
    using NumberSet =
        decltype(TagLibraryEntryPoints::taglib_tag_set_track) TagLibraryEntryPoints::*;
    using FileTextGet =
        decltype(TagLibraryEntryPoints::taglib_tag_get_bpm) TagLibraryEntryPoints::*;
    using FileTextSet =
        decltype(TagLibraryEntryPoints::taglib_tag_set_bpm) TagLibraryEntryPoints::*;
    // The full forms a number field also takes ("3/12", "2001-05-17"), as fullTrackText gives
    // them: the text as stored, or empty for a plain number.
    using FullForm = QString (*)(const QString&);

    Way way;
    TagTextGet tagTextGet = nullptr;
    TagTextSet tagTextSet = nullptr;
    NumberGet numberGet = nullptr;
    NumberSet numberSet = nullptr;
    FileTextGet fileTextGet = nullptr;
    FileTextSet fileTextSet = nullptr;
    // ByName: the field's name; TagNumber: the name its full form is read and written by.
    const char* name = nullptr;
    FullForm fullForm = nullptr;
    char fullFormSeparator = 0; // what ends the number in a full form
    // TagNumber: what an unset number (0) reads as. The window has always shown a missing
    // track as 0; a missing year reads as nothing, so a cleared year stays cleared.
    const char* unsetText = nullptr;
};

constexpr FieldCalls tagText(FieldCalls::TagTextGet get, FieldCalls::TagTextSet set)
{
    return {FieldCalls::Way::TagText, get, set};
}

constexpr FieldCalls tagNumber(FieldCalls::NumberGet get, FieldCalls::NumberSet set,
                               const char* fullName, FieldCalls::FullForm fullForm, char separator,
                               const char* unsetText)
{
    return {FieldCalls::Way::TagNumber,
            nullptr,
            nullptr,
            get,
            set,
            nullptr,
            nullptr,
            fullName,
            fullForm,
            separator,
            unsetText};
}

constexpr FieldCalls fileText(FieldCalls::FileTextGet get, FieldCalls::FileTextSet set)
{
    return {FieldCalls::Way::FileText, nullptr, nullptr, nullptr, nullptr, get, set};
}

constexpr FieldCalls byName(const char* name)
{
    return {FieldCalls::Way::ByName, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, name};
}

// One of the texts of an audiotag, with everything the program needs to show, name, read and
// write it. Adding a field to the program is a row here, a member in audiotag, and the row of
// its item names in the tag library (tagwrapper/fieldtable.h).
struct TagField
{
    const char* name; // the label's text without its colon
    QString audiotag::*member;
    const char* labelName; // object names of the label and edit control on the tag page
    const char* editName;
    int typingLimit;     // characters the edit control takes; 0 for no limit
    const char* cliName; // the name tagora-cli and its patterns know the field by
    FieldCalls calls;
    // Where the field's write comes among the others (0 first): the library has always been
    // given Key before BPM.
    int writePosition;
};

inline constexpr int kFieldTypingLimit = 250;

// In the record's order, which is also the order the fields are read and listed in.
inline constexpr std::array<TagField, 10> TagFields = {{
    {"Title", &audiotag::Title, "TitleLabel", "TitleEdit", kFieldTypingLimit, "title",
     tagText(&TagLibraryEntryPoints::taglib_tag_title,
             &TagLibraryEntryPoints::taglib_tag_set_title),
     0},
    {"Artist", &audiotag::Artist, "ArtistLabel", "ArtistEdit", kFieldTypingLimit, "artist",
     tagText(&TagLibraryEntryPoints::taglib_tag_artist,
             &TagLibraryEntryPoints::taglib_tag_set_artist),
     1},
    {"Album", &audiotag::Album, "AlbumLabel", "AlbumEdit", kFieldTypingLimit, "album",
     tagText(&TagLibraryEntryPoints::taglib_tag_album,
             &TagLibraryEntryPoints::taglib_tag_set_album),
     2},
    {"Track", &audiotag::Track, "TrackLabel", "TrackEdit", kFieldTypingLimit, "track",
     tagNumber(&TagLibraryEntryPoints::taglib_tag_track,
               &TagLibraryEntryPoints::taglib_tag_set_track, "TRACKNUMBER", &fullTrackText, '/',
               "0"),
     3},
    {"Year", &audiotag::Year, "YearLabel", "YearEdit", kFieldTypingLimit, "year",
     tagNumber(&TagLibraryEntryPoints::taglib_tag_year, &TagLibraryEntryPoints::taglib_tag_set_year,
               "DATE", &fullDateText, '-', "0"),
     4},
    {"Genre", &audiotag::Genre, "GenreLabel", "GenreEdit", kFieldTypingLimit, "genre",
     tagText(&TagLibraryEntryPoints::taglib_tag_genre,
             &TagLibraryEntryPoints::taglib_tag_set_genre),
     5},
    {"Comment", &audiotag::Comment, "CommentLabel", "CommentEdit", kFieldTypingLimit, "comment",
     tagText(&TagLibraryEntryPoints::taglib_tag_comment,
             &TagLibraryEntryPoints::taglib_tag_set_comment),
     6},
    {"Copyright", &audiotag::Copyright, "CopyrightLabel", "CopyrightEdit", kFieldTypingLimit,
     "copyright", byName("COPYRIGHT"), 7},
    {"BPM", &audiotag::Bpm, "Label1", "BPMEdit", 0, "bpm",
     fileText(&TagLibraryEntryPoints::taglib_tag_get_bpm,
              &TagLibraryEntryPoints::taglib_tag_set_bpm),
     9},
    {"Key", &audiotag::Key, "Label2", "KeyEdit", 0, "key",
     fileText(&TagLibraryEntryPoints::taglib_tag_get_key,
              &TagLibraryEntryPoints::taglib_tag_set_key),
     8},
}};

inline constexpr std::size_t kFieldCount = TagFields.size();

// The row of a record member; null for a member no row names.
const TagField* fieldOf(QString audiotag::*member);

// The rows in the order they are written.
constexpr std::array<const TagField*, kFieldCount> fieldsInWriteOrder()
{
    std::array<const TagField*, kFieldCount> ordered{};
    for (const TagField& field : TagFields)
        ordered[std::size_t(field.writePosition)] = &field;
    return ordered;
}

namespace detail {
constexpr bool writePositionsArePermutation()
{
    std::array<bool, kFieldCount> taken{};
    for (const TagField& field : TagFields) {
        const auto position = std::size_t(field.writePosition);
        if (field.writePosition < 0 || position >= kFieldCount || taken[position])
            return false;
        taken[position] = true;
    }
    return true;
}
} // namespace detail
static_assert(detail::writePositionsArePermutation(),
              "every field needs a write position of its own, from 0 up");

} // namespace tagora
