#pragma once

#include <QByteArray>
#include <QString>

namespace tagora {

// File names on Linux are bytes, not always valid UTF-8. These two convert between the
// bytes and the program's text without loss: valid UTF-8 is decoded as usual, and each
// byte that is not part of valid UTF-8 becomes the lone surrogate U+DC80 + byte (and back).
// Use them wherever a path crosses between the file system and a QString; QFile::encodeName
// and QDir would silently lose such names.
QString pathFromNative(const QByteArray& bytes);
QByteArray pathToNative(const QString& path);

} // namespace tagora
