#pragma once

#include <QString>
#include <QtGlobal>

namespace tagora {

// The program's whole picture of one file's tag: the texts of the fields in tags/tagfields.h
// and the playing time.
// A plain value record; it holds nothing of the tag library's.
struct audiotag
{
    QString Title;
    QString Artist;
    QString Album;
    QString Track; // decimal text; the library stores a number
    QString Year;  // decimal text, empty when unset; the library stores a number
    QString Genre;
    QString Comment;
    QString Copyright; // the field the library addresses by the name "COPYRIGHT"
    qint32 Length = 0; // playing time in whole seconds; read only, never written
    QString Bpm;
    QString Key;

    // Field by field as the field table lists them, and the length.
    friend bool operator==(const audiotag& a, const audiotag& b);
    friend bool operator!=(const audiotag& a, const audiotag& b) { return !(a == b); }
};

enum class WriteTagResult
{
    NotOpened,
    Saved,
    SaveFailed
};

} // namespace tagora
