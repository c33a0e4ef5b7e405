#pragma once

#include "tags/audiotag.h"

#include <QString>

namespace tagora::cli {

// True when `value` may be written to the field: any text, except that Track takes a number
// or "number/total" and Year a year, "YYYY-MM" or "YYYY-MM-DD" (empty or 0 clears either).
// A value that would be stored as something else ("-1", "abc") is refused before any file
// is touched.
bool acceptedValue(QString audiotag::*member, const QString& value);

// The reason acceptedValue() refuses `value`, for a usage message.
QByteArray refusalReason(QString audiotag::*member, const QString& value);

// True when writing `after` over `before` changes nothing the field stores: "03" and "3"
// are one track number.
bool sameStoredValue(QString audiotag::*member, const QString& before, const QString& after);

} // namespace tagora::cli
