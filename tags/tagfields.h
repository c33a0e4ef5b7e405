#pragma once

#include "tags/audiotag.h"

#include <array>

namespace tagora {

// One of the ten texts of an audiotag, with everything the program needs to show and name
// it. Adding a field to the program starts with a row here.
struct TagField
{
    const char* name; // the label's text without its colon; also the field's name for scripts
    QString audiotag::*member;
    const char* labelName; // object names of the label and edit control on the tag page
    const char* editName;
    int typingLimit; // characters the edit control takes; 0 for no limit
};

inline constexpr int kFieldTypingLimit = 250;

// In the record's order, which is also the order the fields are read, written and listed in.
inline constexpr std::array<TagField, 10> TagFields = {{
    {"Title", &audiotag::Title, "TitleLabel", "TitleEdit", kFieldTypingLimit},
    {"Artist", &audiotag::Artist, "ArtistLabel", "ArtistEdit", kFieldTypingLimit},
    {"Album", &audiotag::Album, "AlbumLabel", "AlbumEdit", kFieldTypingLimit},
    {"Track", &audiotag::Track, "TrackLabel", "TrackEdit", kFieldTypingLimit},
    {"Year", &audiotag::Year, "YearLabel", "YearEdit", kFieldTypingLimit},
    {"Genre", &audiotag::Genre, "GenreLabel", "GenreEdit", kFieldTypingLimit},
    {"Comment", &audiotag::Comment, "CommentLabel", "CommentEdit", kFieldTypingLimit},
    {"Copyright", &audiotag::Copyright, "CopyrightLabel", "CopyrightEdit", kFieldTypingLimit},
    {"BPM", &audiotag::Bpm, "Label1", "BPMEdit", 0},
    {"Key", &audiotag::Key, "Label2", "KeyEdit", 0},
}};

} // namespace tagora
