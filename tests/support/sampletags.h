#pragma once
// Tag records that no sample file holds, for writing and reading back.

#include "tags/audiotag.h"

namespace tagora::test {

inline audiotag plainTag()
{
    audiotag tag;
    tag.Title = QStringLiteral("A Title");
    tag.Artist = QStringLiteral("An Artist");
    tag.Album = QStringLiteral("An Album");
    tag.Track = QStringLiteral("7");
    tag.Year = QStringLiteral("1999");
    tag.Genre = QStringLiteral("Jazz");
    tag.Comment = QStringLiteral("A comment");
    tag.Copyright = QStringLiteral("2001 Someone");
    tag.Bpm = QStringLiteral("128");
    tag.Key = QStringLiteral("Am");
    return tag;
}

// Many scripts, a multi-line comment, numbers in the forms the number parser takes, and a
// tempo that is no number (it must not be lost either).
inline audiotag unicodeTag()
{
    audiotag tag;
    tag.Title = QStringLiteral("Ünïcødé 日本語のタイトル");
    tag.Artist = QStringLiteral("Кириллица");
    tag.Album = QStringLiteral("العربية");
    tag.Track = QStringLiteral("  12");
    tag.Year = QStringLiteral("$7E0"); // 2016
    tag.Genre = QStringLiteral("Ελληνικά");
    tag.Comment = QStringLiteral("emoji 🎵🎸\nsecond line");
    tag.Copyright = QStringLiteral("© 2024 Ωmega");
    tag.Bpm = QStringLiteral("about 120 ♩");
    tag.Key = QStringLiteral("F♯m");
    return tag;
}

} // namespace tagora::test
