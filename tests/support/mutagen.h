#pragma once
// mutagen, the tag library other software writes files with, as the tests run it: through the
// tests' Python scripts (tests/preservation/richtags.py, tests/pictures/pictures.py), whose
// "dump" prints a file's items one a line, read back here.

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace tagora::test {

// Debian's own python3 by path: a python3 of another installation (pyenv) on PATH lacks
// Debian's python3-mutagen.
inline const QString kPython = QStringLiteral("/usr/bin/python3");

// The empty rating TagLib adds to an ASF file it saves, as a dump shows it.
inline const QString kAsfAddedRating = QStringLiteral("Rating=ASFUnicodeAttribute('')");

inline bool mutagenInstalled()
{
    return QFile::exists(kPython) &&
           QProcess::execute(kPython, {QStringLiteral("-c"), QStringLiteral("import mutagen")}) ==
               0;
}

// What python3 run with `arguments` printed; a failed run gives its errors instead, under a
// first line no dump prints, so a comparison with it fails and shows why.
inline QByteArray runPython(const QStringList& arguments)
{
    QProcess process;
    process.start(kPython, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return arguments.value(0).toUtf8() + " failed: " + process.readAllStandardError();
    return process.readAllStandardOutput();
}

// The non-empty lines of a script's output.
inline QStringList outputLines(const QByteArray& output)
{
    return QString::fromUtf8(output).split(u'\n', Qt::SkipEmptyParts);
}

// The lines of `after` that `before` lacks, sorted.
inline QStringList added(const QStringList& before, const QStringList& after)
{
    QStringList lines;
    for (const QString& line : after) {
        if (!before.contains(line))
            lines.append(line);
    }
    lines.sort();
    return lines;
}

// An item's line with its several values ("a | b") sorted: TagLib reads the values of an ASF
// attribute spread over two header objects (as mutagen writes two WM/Genre values) in the
// other order, and saves them so.
inline QString valuesSorted(const QString& line)
{
    QStringList values = line.section(u'=', 1).split(QLatin1String(" | "));
    values.sort();
    return line.section(u'=', 0, 0) + u'=' + values.join(QLatin1String(" | "));
}

// Each file's dump by `script` (which heads each file's lines "== FILE"), its values sorted
// and its lines sorted, without the rating a TagLib save adds.
inline QHash<QString, QStringList> sortedDumps(const QString& script, const QStringList& paths)
{
    QHash<QString, QStringList> views;
    QString current;
    for (const QString& line :
         outputLines(runPython(QStringList{script, QStringLiteral("dump")} + paths))) {
        if (line.startsWith(QLatin1String("== ")))
            current = line.mid(3);
        else if (!line.startsWith(kAsfAddedRating))
            views[current].append(valuesSorted(line));
    }
    for (QStringList& view : views)
        view.sort();
    return views;
}

} // namespace tagora::test
