#include "namepattern.h"

#include <algorithm>

#include "tags/tagfields.h"

#include <QRegularExpression>

namespace tagora::cli {
// Track and Year read as "0" when unset; a name or a template shows them as nothing.
QString shownText(const audiotag& tag, QString audiotag::*member)
{
    const bool number = member == &audiotag::Track || member == &audiotag::Year;
    const QString value = tag.*member;
    return number && value == QLatin1String("0") ? QString() : value;
}

namespace {

constexpr int kWidestPadding = 255;

// A value put into a file name cannot lead out of the folder ("/"), and NUL would end the
// name early.
QString safeNamePart(QString text)
{
    return text.replace(u'/', u'_').replace(QChar(u'\0'), u'_');
}

// A name never starts with a dot: it would hide the file, or be "." or "..".
QString withoutLeadingDots(QString name)
{
    for (qsizetype i = 0; i < name.size() && name[i] == u'.'; ++i)
        name[i] = u'_';
    return name;
}

} // namespace

QString audiotag::*memberNamed(const QString& name)
{
    for (const TagField& field : TagFields) {
        if (name.compare(QLatin1String(field.cliName), Qt::CaseInsensitive) == 0)
            return field.member;
    }
    return nullptr;
}

QByteArray scriptName(QString audiotag::*member)
{
    const TagField* field = fieldOf(member);
    return field ? QByteArray(field->cliName) : QByteArray();
}

// A placeholder's name for a named field: TagLib's property names are letters, digits and
// "_", which keeps a mistyped "%ti tle%" an error.
bool placeholderName(const QString& name)
{
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
               c == u'_';
    });
}

bool NamePattern::parse(const QString& pattern, QString& reason, bool namedFields)
{
    m_pieces.clear();
    QString literal;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != u'%') {
            literal += pattern[i];
            continue;
        }
        const qsizetype close = pattern.indexOf(u'%', i + 1);
        if (close < 0) {
            reason = QStringLiteral("unclosed placeholder in pattern: ") + pattern;
            return false;
        }
        const QString inside = pattern.mid(i + 1, close - i - 1);
        const QStringList parts = inside.split(u':');
        Piece piece{literal, memberNamed(parts[0]), {}, 0};
        if (!piece.member && namedFields && placeholderName(parts[0]))
            piece.property = parts[0].toUpper().toLatin1();
        bool paddingOk = true;
        if (parts.size() == 2)
            piece.padding = parts[1].toInt(&paddingOk);
        if ((!piece.member && piece.property.isEmpty()) || parts.size() > 2 || !paddingOk ||
            piece.padding < 0) {
            reason = QStringLiteral("unknown placeholder %") + inside + u'%';
            return false;
        }
        if (piece.padding > kWidestPadding) {
            reason =
                QStringLiteral("%") + inside + QStringLiteral("% pads to more than 255 digits");
            return false;
        }
        m_pieces.append(piece);
        literal.clear();
        i = close;
    }
    m_tail = literal;
    return true;
}

bool NamePattern::namesFolder() const
{
    QString literal = m_tail;
    for (const Piece& piece : m_pieces)
        literal += piece.literal;
    return literal.contains(u'/');
}

bool NamePattern::fill(const QString& baseName, audiotag& tag, NamedValues* named) const
{
    QString expression = QStringLiteral("^");
    for (qsizetype i = 0; i < m_pieces.size(); ++i) {
        expression += QRegularExpression::escape(m_pieces[i].literal);
        expression += i + 1 < m_pieces.size() ? QStringLiteral("(.*?)") : QStringLiteral("(.*)");
    }
    expression += QRegularExpression::escape(m_tail) + u'$';
    const QRegularExpressionMatch match =
        QRegularExpression(expression, QRegularExpression::DotMatchesEverythingOption)
            .match(baseName);
    if (!match.hasMatch())
        return false;
    for (qsizetype i = 0; i < m_pieces.size(); ++i) {
        if (m_pieces[i].member)
            tag.*m_pieces[i].member = match.captured(int(i) + 1);
        else if (named)
            named->insert(m_pieces[i].property, match.captured(int(i) + 1));
    }
    return true;
}

QString NamePattern::name(const audiotag& tag, const NamedValues& named) const
{
    return compose(tag, named, true);
}

QString NamePattern::text(const audiotag& tag) const
{
    return compose(tag, {}, false);
}

QList<QString audiotag::*> NamePattern::emptyFields(const audiotag& tag) const
{
    QList<QString audiotag::*> empty;
    for (const Piece& piece : m_pieces) {
        if (piece.member && shownText(tag, piece.member).isEmpty() && !empty.contains(piece.member))
            empty.append(piece.member);
    }
    return empty;
}

QString NamePattern::compose(const audiotag& tag, const NamedValues& named, bool forName) const
{
    QString result;
    for (const Piece& piece : m_pieces) {
        QString value = piece.member ? shownText(tag, piece.member) : named.value(piece.property);
        if (forName)
            value = safeNamePart(value);
        if (!value.isEmpty())
            value = value.rightJustified(piece.padding, u'0');
        result += piece.literal + value;
    }
    result += m_tail;
    return forName ? withoutLeadingDots(result) : result;
}

QList<QString audiotag::*> NamePattern::fields() const
{
    QList<QString audiotag::*> members;
    for (const Piece& piece : m_pieces) {
        if (piece.member)
            members.append(piece.member);
    }
    return members;
}

QList<QByteArray> NamePattern::namedFields() const
{
    QList<QByteArray> names;
    for (const Piece& piece : m_pieces) {
        if (!piece.member)
            names.append(piece.property);
    }
    return names;
}

NameParts splitName(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    NameParts parts{path.left(slash + 1), path.mid(slash + 1), {}};
    const qsizetype dot = parts.base.lastIndexOf('.');
    if (dot > 0) {
        parts.extension = parts.base.mid(dot);
        parts.base.truncate(dot);
    }
    return parts;
}

} // namespace tagora::cli
