#include "fieldcheck.h"

#include "cli/namepattern.h"
#include "tags/tagfields.h"

#include <QRegularExpression>

namespace tagora::cli {
namespace {

bool isNumberField(QString audiotag::*member)
{
    const TagField* field = fieldOf(member);
    return field && field->calls.way == FieldCalls::Way::TagNumber;
}

// A number the tag library stores as given: decimal digits within a signed 32-bit integer.
bool fitsNumber(QStringView digits)
{
    bool ok = false;
    return digits.toInt(&ok) >= 0 && ok;
}

bool acceptedTrack(const QString& value)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]+)(?:/([0-9]+))?$"));
    const QRegularExpressionMatch match = form.match(value);
    return match.hasMatch() && fitsNumber(match.capturedView(1)) &&
           (!match.hasCaptured(2) || fitsNumber(match.capturedView(2)));
}

bool acceptedYear(const QString& value)
{
    static const QRegularExpression form(
        QStringLiteral("^([0-9]+)$|^[0-9]{4}-(0[1-9]|1[0-2])(?:-(0[1-9]|[12][0-9]|3[01]))?$"));
    const QRegularExpressionMatch match = form.match(value);
    return match.hasMatch() && (!match.hasCaptured(1) || fitsNumber(match.capturedView(1)));
}

// Leading zeros dropped from every run of digits.
QString withoutLeadingZeros(const QString& text)
{
    static const QRegularExpression zeros(QStringLiteral("(?<![0-9])0+(?=[0-9])"));
    return QString(text).remove(zeros);
}

} // namespace

bool acceptedValue(QString audiotag::*member, const QString& value)
{
    if (value.isEmpty() || !isNumberField(member))
        return true;
    return member == &audiotag::Track ? acceptedTrack(value) : acceptedYear(value);
}

QByteArray refusalReason(QString audiotag::*member, const QString& value)
{
    const QByteArray wanted = member == &audiotag::Track ? "a track number or NUMBER/TOTAL"
                                                         : "a year, YYYY-MM or YYYY-MM-DD";
    return "'" + value.toUtf8() + "' is not " + wanted + " for " + scriptName(member);
}

bool sameStoredValue(QString audiotag::*member, const QString& before, const QString& after)
{
    if (before == after)
        return true;
    // An unset number reads as "0".
    const auto stored = [](const QString& text) {
        return text.isEmpty() ? QStringLiteral("0") : withoutLeadingZeros(text);
    };
    return isNumberField(member) && stored(before) == stored(after);
}

} // namespace tagora::cli
