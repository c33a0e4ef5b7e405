#pragma once

#include "tags/audiotag.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace tagora::cli {

// The record member of a field's script name (any case), or null when no field has it.
QString audiotag::*memberNamed(const QString& name);

// The lower-case script name of a record member: "title" ... "bpm", "key".
QByteArray scriptName(QString audiotag::*member);

// A field's value as names, tables and --where see it: an unset track or year is empty.
QString shownText(const audiotag& tag, QString audiotag::*member);

// A field's value by its property name (ALBUMARTIST), several values joined by "; ".
using NamedValues = QMap<QByteArray, QString>;

// A file-name pattern of literal text and placeholders %field% (any of the ten script
// names, in any case; with named fields allowed, also a property name such as %albumartist%:
// letters, digits and "_") or %field:N% (a number padded with zeros to N digits).
class NamePattern
{
public:
    // False with a reason when a placeholder names no field, is left open or pads to more
    // than 255 digits.
    bool parse(const QString& pattern, QString& reason, bool namedFields = false);

    // True when the literal text holds "/": as a name it would lead out of the file's folder.
    bool namesFolder() const;

    // Fills the placeholders' fields from a file's base name (no folder, no extension). The
    // literal text must match exactly; a placeholder takes the shortest text that lets the
    // rest match, except the last, which takes what is left. False when it does not match.
    // Named fields go into `named`, by their upper-case names.
    bool fill(const QString& baseName, audiotag& tag, NamedValues* named = nullptr) const;

    // The base name the pattern makes from a tag: "/" and NUL in a value, and dots at the
    // start of the name, become "_".
    QString name(const audiotag& tag, const NamedValues& named = {}) const;

    // The text the pattern makes from a tag's values as they are, for a field's value.
    QString text(const audiotag& tag) const;

    // The fields the pattern names that the tag leaves empty (an unset track or year too).
    QList<QString audiotag::*> emptyFields(const audiotag& tag) const;

    // The fields of the ten the pattern names, in order, and the named fields.
    QList<QString audiotag::*> fields() const;
    QList<QByteArray> namedFields() const;

private:
    QString compose(const audiotag& tag, const NamedValues& named, bool forName) const;

    struct Piece
    {
        QString literal; // the text before the placeholder
        QString audiotag::*member = nullptr;
        QByteArray property; // a named field's name, upper case, when member is null
        int padding = 0;
    };
    QList<Piece> m_pieces;
    QString m_tail; // the literal text after the last placeholder
};

// The file name split into folder (with its slash), base name and extension (with its dot).
struct NameParts
{
    QByteArray folder;
    QByteArray base;
    QByteArray extension;
};
NameParts splitName(const QByteArray& path);

} // namespace tagora::cli
