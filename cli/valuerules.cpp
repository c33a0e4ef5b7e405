#include "valuerules.h"

#include <QList>

#include <algorithm>
#include <array>

namespace tagora::cli {
namespace {

// Kept lower case inside a title; "feat" and "vs" for the credits music titles carry.
constexpr std::array<const char*, 19> kSmallWords = {"a",    "an",  "and", "as",  "at", "but", "by",
                                                     "feat", "for", "in",  "nor", "of", "on",  "or",
                                                     "per",  "the", "to",  "via", "vs"};

struct Word
{
    qsizetype start;
    qsizetype length;
};

QList<Word> wordsOf(const QString& value)
{
    QList<Word> words;
    for (qsizetype i = 0; i < value.size();) {
        if (value[i].isSpace()) {
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < value.size() && !value[i].isSpace())
            ++i;
        words.append({start, i - start});
    }
    return words;
}

// A word that title and sentence case keep: in capitals, or with a capital after its
// first letter beside small letters.
bool keepsItsCase(const QString& word)
{
    qsizetype letters = 0;
    bool lower = false;
    bool innerCapital = false;
    for (const QChar c : word) {
        if (!c.isLetter())
            continue;
        lower = lower || c.isLower();
        innerCapital = innerCapital || (letters > 0 && c.isUpper());
        ++letters;
    }
    return (letters >= 2 && !lower) || (innerCapital && lower);
}

// The word's letters without the punctuation around it: "(of," gives "of".
QString bareWord(const QString& word)
{
    qsizetype start = 0;
    qsizetype end = word.size();
    while (start < end && !word[start].isLetterOrNumber())
        ++start;
    while (end > start && !word[end - 1].isLetterOrNumber())
        --end;
    return word.mid(start, end - start).toLower();
}

bool isSmallWord(const QString& bare)
{
    return std::any_of(kSmallWords.begin(), kSmallWords.end(),
                       [&](const char* small) { return bare == QLatin1String(small); });
}

// Lower case with the first letter raised; "1st" stays as it is, its first sign being
// no letter.
QString capitalized(const QString& word)
{
    QString result = word.toLower();
    const auto first =
        std::find_if(result.begin(), result.end(), [](QChar c) { return c.isLetterOrNumber(); });
    if (first != result.end() && first->isLetter())
        *first = first->toUpper();
    return result;
}

QString titleWord(const QString& word, bool startsPhrase, bool last)
{
    if (!startsPhrase && !last && isSmallWord(bareWord(word)))
        return word.toLower();
    return capitalized(word);
}

QString sentenceWord(const QString& word, bool first)
{
    if (first)
        return capitalized(word);
    const QString bare = bareWord(word);
    const bool pronounI = bare == QLatin1String("i") || bare.startsWith(QLatin1String("i'"));
    return pronounI ? word : word.toLower();
}

} // namespace

QString changeCase(const QString& value, LetterCase letterCase)
{
    if (letterCase == LetterCase::Upper)
        return value.toUpper();
    if (letterCase == LetterCase::Lower)
        return value.toLower();
    const QList<Word> words = wordsOf(value);
    QString result = value;
    // Right to left, so a word whose length changes does not move those still to come.
    for (qsizetype i = words.size() - 1; i >= 0; --i) {
        const QString word = value.mid(words[i].start, words[i].length);
        if (keepsItsCase(word))
            continue;
        // A word after a colon, or opening brackets, begins a phrase of its own in a title.
        const bool startsPhrase =
            i == 0 || value.mid(words[i - 1].start, words[i - 1].length).endsWith(u':') ||
            word.startsWith(u'(') || word.startsWith(u'[');
        const QString changed = letterCase == LetterCase::Title
                                    ? titleWord(word, startsPhrase, i == words.size() - 1)
                                    : sentenceWord(word, i == 0);
        result.replace(words[i].start, words[i].length, changed);
    }
    return result;
}

QString trimSpaces(const QString& value)
{
    static const QRegularExpression spaceRun(QStringLiteral("[ \\t]{2,}|\\t"));
    return value.trimmed().replace(spaceRun, QStringLiteral(" "));
}

QString replaceMatches(const QString& value, const QRegularExpression& regex,
                       const QString& replacement)
{
    QString result = value;
    return result.replace(regex, replacement);
}

int highestCaptureReference(const QString& replacement)
{
    int highest = 0;
    for (qsizetype i = 0; i + 1 < replacement.size(); ++i) {
        if (replacement[i] == u'\\' && replacement[i + 1].isDigit())
            highest = std::max(highest, replacement[i + 1].digitValue());
    }
    return highest;
}

} // namespace tagora::cli
