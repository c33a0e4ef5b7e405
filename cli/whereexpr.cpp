#include "whereexpr.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tagora::cli {
namespace {

constexpr std::array<const char*, 5> kNumberFields = {"track", "year", "bpm", "length", "pictures"};

bool isNumberField(const QString& field)
{
    return std::any_of(kNumberFields.begin(), kNumberFields.end(),
                       [&](const char* name) { return field == QLatin1String(name); });
}

std::optional<double> numberIn(const QString& text)
{
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    return ok ? std::optional<double>(number) : std::nullopt;
}

char16_t folded(char16_t c)
{
    return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c;
}

// The tests longest first, so "<=" is not read as "<" followed by "=".
constexpr std::array<const char*, 8> kOperators = {"!=", "<=", ">=", "=", "~", ":", "<", ">"};

} // namespace

bool equalFolded(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (folded(a[i].unicode()) != folded(b[i].unicode()))
            return false;
    }
    return true;
}

bool WhereCondition::parse(const QByteArray& expression,
                           const std::function<bool(const QString&)>& known, QByteArray& error)
{
    qsizetype end = 0;
    while (end < expression.size() &&
           (std::isalnum(static_cast<unsigned char>(expression[end])) || expression[end] == '_'))
        ++end;
    const QByteArray where = "--where '" + expression + "': ";
    if (end == 0) {
        error = where + "no field name at the start";
        return false;
    }
    m_field = QString::fromUtf8(expression.left(end)).toLower();
    if (!known(m_field)) {
        error = where + "unknown field '" + expression.left(end) + "'";
        return false;
    }
    if (!parseOperand(expression.mid(end), error)) {
        error = where + error;
        return false;
    }
    return true;
}

bool WhereCondition::parseOperand(const QByteArray& rest, QByteArray& error)
{
    const auto found = std::find_if(kOperators.begin(), kOperators.end(),
                                    [&](const char* op) { return rest.startsWith(op); });
    if (found == kOperators.end()) {
        error = "expected =, !=, ~, :, <, <=, > or >= after the field name" +
                (rest.isEmpty() ? QByteArray() : ", not '" + rest + "'");
        return false;
    }
    const QByteArray op = *found;
    m_text = QString::fromUtf8(rest.mid(op.size()));
    if (op == ":") {
        m_test = Test::Empty;
        if (!m_text.isEmpty())
            error = "nothing may follow ':' (FIELD: holds for an empty field)";
        return m_text.isEmpty();
    }
    if (op == "~") {
        m_test = Test::Regex;
        m_regex.setPattern(m_text);
        if (!m_regex.isValid())
            error = "bad regular expression '" + m_text.toUtf8() +
                    "': " + m_regex.errorString().toUtf8();
        return m_regex.isValid();
    }
    if (op == "=" || op == "!=") {
        m_test = op == "=" ? Test::Equal : Test::NotEqual;
        static const QRegularExpression range(
            QStringLiteral("^\\s*(-?\\d+(?:\\.\\d+)?)?\\s*\\.\\.\\s*(-?\\d+(?:\\.\\d+)?)?\\s*$"));
        const QRegularExpressionMatch match = range.match(m_text);
        if (op == "=" && match.hasMatch() && match.capturedLength(0) > 2) {
            m_test = Test::Range;
            m_low = numberIn(match.captured(1));
            m_high = numberIn(match.captured(2));
            if (m_low && m_high && *m_low > *m_high)
                error = "the range '" + m_text.toUtf8() + "' holds no number";
            return error.isEmpty();
        }
        if (isNumberField(m_field))
            m_low = m_high = numberIn(m_text);
        return true;
    }
    m_test = Test::Range;
    const std::optional<double> bound = numberIn(m_text);
    if (!bound) {
        error = "'" + m_text.toUtf8() + "' after '" + op + "' is not a number";
        return false;
    }
    (op[0] == '<' ? m_high : m_low) = bound;
    (op[0] == '<' ? m_highOpen : m_lowOpen) = op.size() == 1;
    return true;
}

bool WhereCondition::numberMatches(const QString& value) const
{
    const std::optional<double> number = numberIn(value);
    if (!number)
        return false;
    const bool aboveLow = !m_low || (m_lowOpen ? *number > *m_low : *number >= *m_low);
    const bool belowHigh = !m_high || (m_highOpen ? *number < *m_high : *number <= *m_high);
    return aboveLow && belowHigh;
}

bool WhereCondition::matches(const FieldValue& fieldValue) const
{
    const QString value = fieldValue(m_field);
    switch (m_test) {
    case Test::Equal:
        return m_low ? numberMatches(value) : equalFolded(value, m_text);
    case Test::NotEqual:
        return m_low ? !numberMatches(value) : !equalFolded(value, m_text);
    case Test::Regex:
        return m_regex.match(value).hasMatch();
    case Test::Empty:
        return value.isEmpty();
    case Test::Range:
        return numberMatches(value);
    }
    return false;
}

bool WhereFilter::add(const QByteArray& expression,
                      const std::function<bool(const QString&)>& known, QByteArray& error)
{
    WhereCondition condition;
    if (!condition.parse(expression, known, error))
        return false;
    m_conditions.append(condition);
    return true;
}

bool WhereFilter::matches(const WhereCondition::FieldValue& value) const
{
    return std::all_of(m_conditions.begin(), m_conditions.end(),
                       [&](const WhereCondition& condition) { return condition.matches(value); });
}

} // namespace tagora::cli
