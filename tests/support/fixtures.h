#pragma once
// The committed sample files and the plain file access the tests around them need.

#include "support/audiotypes.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

namespace tagora::test {

// Each audio type has a fixture "sample.<type>" of two seconds.

// Data rows "mp3" ... "flac" in a QString column `column`.
inline void addTypeRows(const char* column = "type")
{
    QTest::addColumn<QString>(column);
    for (const char* type : kAudioTypes)
        QTest::newRow(type) << QString::fromLatin1(type);
}

inline QString fixture(const QString& name)
{
    return QStringLiteral(TAGORA_FIXTURES_DIR "/") + name;
}

inline QString sampleFile(const QString& type)
{
    return fixture(QStringLiteral("sample.") + type);
}

// A copy of each type's sample, `folder`/made.<type>, for another program to tag; the paths in
// kAudioTypes' order, or none when a copy failed.
inline QStringList copiesOfSamples(const QString& folder)
{
    QStringList paths;
    for (const char* type : kAudioTypes) {
        paths.append(folder + QStringLiteral("/made.") + QLatin1String(type));
        if (!QFile::copy(sampleFile(QLatin1String(type)), paths.last()))
            return {};
    }
    return paths;
}

inline QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace tagora::test
