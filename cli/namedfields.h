#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

struct TagLib_File_s;

namespace tagora::cli {

// True when the loaded tag library reads and writes properties by name.
bool namedFieldsAvailable();

// True for a name the tag library's property interface takes (ALBUMARTIST, DISCNUMBER,
// MUSICBRAINZ_ALBUMID, a free-form name): letters, digits, spaces and punctuation, no "=".
bool isPropertyName(const QByteArray& name);

// The property's values in the file opened as `file`, upper-casing `name`; empty when absent.
QStringList propertyValues(TagLib_File_s* file, const QByteArray& name);
// Stores `values` as the property's values (none removes it). False, with the file in memory
// unchanged, when its format cannot store the name.
bool setPropertyValues(TagLib_File_s* file, const QByteArray& name, const QStringList& values);
// The names of every property the file holds.
QList<QByteArray> propertyNames(TagLib_File_s* file);

// The version of an MPEG file's ID3v2 tag (2, 3 or 4), 0 without one; the frames `version`
// cannot hold ("TSOT, TMOO"); and the version the next save writes, false when not taken.
int id3v2Version(TagLib_File_s* file);
QByteArray id3v2LostFrames(TagLib_File_s* file, int version);
bool setId3v2Version(TagLib_File_s* file, int version);

// What a file is, beside its tags: the columns ls adds on request and info prints.
struct FileFacts
{
    QString tagTypes; // "ID3v2.3, APE, ID3v1"
    QString codec;
    int bitrate = 0; // kb/s
    int sampleRate = 0;
    int channels = 0;
    int lengthMs = 0;
    qint64 size = 0; // bytes
};
FileFacts factsOf(TagLib_File_s* file, const QByteArray& path);

// The column names of FileFacts, in its order, and whether `name` is one.
const QList<QByteArray>& factColumns();
// A fact by its column name, as text.
QString factText(const FileFacts& facts, const QByteArray& column);

// How an assignment changes a property: NAME=A; B replaces its values, NAME+=V adds values,
// NAME-=V removes each value equal to one given, NAME= removes the property.
struct PropertyAssignment
{
    enum class Kind
    {
        Replace,
        Add,
        Remove
    };
    QByteArray name; // upper case
    Kind kind = Kind::Replace;
    QStringList values;

    QStringList applied(const QStringList& stored) const;
};

// Parses "NAME=...", "NAME+=..." or "NAME-=..."; false when `arg` is none of these or the
// name is no property name. Values are split at "; " as the window joins them.
bool parsePropertyAssignment(const QByteArray& arg, PropertyAssignment& assignment);

// Several values in one text: joined by "; " for people, by a unit separator for the journal,
// which must give the values back exactly.
QString shownValues(const QStringList& values);
QByteArray journalValues(const QStringList& values);
QStringList valuesFromJournal(const QByteArray& text);

} // namespace tagora::cli
