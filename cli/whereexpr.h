#pragma once

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QString>

#include <functional>
#include <optional>

namespace tagora::cli {

// One --where condition on a field's shown value (an unset track or year is empty):
//   FIELD=TEXT   equal, with only the ASCII letters folded, as the window compares texts
//   FIELD!=TEXT  not equal, folded the same way
//   FIELD~REGEX  the value contains a match of the regular expression
//   FIELD:       empty or missing
//   FIELD<N  FIELD<=N  FIELD>N  FIELD>=N  FIELD=N..M (either end may be left out)
//                numbers; a value that is not a number never matches these
// On the number fields (track, year, bpm, length) FIELD=N and FIELD!=N compare numbers, so
// track=3 holds for "03".
class WhereCondition
{
public:
    // The value of a field by its lower-case name.
    using FieldValue = std::function<QString(const QString& field)>;

    // False with a message naming the bad part when `expression` is none of the forms or
    // names a field `known` does not take.
    bool parse(const QByteArray& expression, const std::function<bool(const QString&)>& known,
               QByteArray& error);
    bool matches(const FieldValue& value) const;

private:
    enum class Test
    {
        Equal,
        NotEqual,
        Regex,
        Empty,
        Range
    };
    bool parseOperand(const QByteArray& expression, QByteArray& error);
    bool numberMatches(const QString& value) const;

    QString m_field;
    Test m_test = Test::Equal;
    QString m_text;
    QRegularExpression m_regex;
    std::optional<double> m_low;
    std::optional<double> m_high;
    bool m_lowOpen = false; // a bound that excludes its own number: "<" and ">"
    bool m_highOpen = false;
};

// Every condition must hold; none at all holds for every file.
class WhereFilter
{
public:
    bool add(const QByteArray& expression, const std::function<bool(const QString&)>& known,
             QByteArray& error);
    bool matches(const WhereCondition::FieldValue& value) const;

private:
    QList<WhereCondition> m_conditions;
};

// Texts compared code unit by code unit with only a-z taken as A-Z.
bool equalFolded(const QString& a, const QString& b);

} // namespace tagora::cli
