#pragma once

#include <QString>
#include <QtGlobal>

namespace tagora {

// The program's whole picture of one file's tag: ten texts and the playing time.
// A plain value record; it holds nothing of the tag library's.
struct audiotag
{
    QString Title;
    QString Artist;
    QString Album;
    QString Track; // decimal text; the library stores a number
    QString Year;  // decimal text; the library stores a number
    QString Genre;
    QString Comment;
    QString Copyright; // the field the library addresses by the name "COPYRIGHT"
    qint32 Length = 0; // playing time in whole seconds; read only, never written
    QString Bpm;
    QString Key;

    friend bool operator==(const audiotag& a, const audiotag& b)
    {
        return a.Title == b.Title && a.Artist == b.Artist && a.Album == b.Album &&
               a.Track == b.Track && a.Year == b.Year && a.Genre == b.Genre &&
               a.Comment == b.Comment && a.Copyright == b.Copyright && a.Length == b.Length &&
               a.Bpm == b.Bpm && a.Key == b.Key;
    }
    friend bool operator!=(const audiotag& a, const audiotag& b) { return !(a == b); }
};

enum class WriteTagResult
{
    NotOpened,
    Saved,
    SaveFailed
};

} // namespace tagora
