#pragma once

#include <QRegularExpression>
#include <QString>

namespace tagora::cli {

enum class LetterCase
{
    Title,
    Sentence,
    Upper,
    Lower
};

// Words are runs of text between spaces. A word in capitals (two letters or more and no
// small letter, as AC/DC or USA) and a word with capitals inside (McCartney, iPod) are kept
// as they are by title and sentence case, as is "I" (and I'm, I'll) by sentence case.
// Title case raises the first letter of every other word, except the short words of a
// fixed list (a, an, and, of, the, ...), which go lower case unless first or last. Sentence
// case raises the first letter of the first word and lowers the others. Upper and lower
// case change every letter, in any script.
QString changeCase(const QString& value, LetterCase letterCase);

// Without leading and trailing white space, and with every run of spaces and tabs inside
// made one space; line breaks inside stay.
QString trimSpaces(const QString& value);

// Every match of `regex` replaced; \1 ... \99 in `replacement` stand for the captures.
QString replaceMatches(const QString& value, const QRegularExpression& regex,
                       const QString& replacement);

// The highest capture number \N that `replacement` refers to (0 for none), so a reference
// to a capture the expression lacks is caught before any file is touched.
int highestCaptureReference(const QString& replacement);

} // namespace tagora::cli
