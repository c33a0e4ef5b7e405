// Every input the fuzzers ever crashed the library with, kept under regressions/ and named
// <anything>.<extension>, goes once more through the fuzzers' own round of open, read, set,
// save, strip. The fixtures go through it too, so the round itself stays tested when there
// are no regressions.
#include "fuzzharness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

class FuzzRegressionsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replay_data()
    {
        QTest::addColumn<QString>("path");
        const QStringList extensions = {QStringLiteral("mp3"), QStringLiteral("ogg"),
                                        QStringLiteral("wma"), QStringLiteral("ape"),
                                        QStringLiteral("m4a"), QStringLiteral("flac")};
        int regressions = 0;
        for (const QString& folder :
             {QStringLiteral(TAGORA_FUZZ_REGRESSIONS_DIR), QStringLiteral(TAGORA_FIXTURES_DIR)}) {
            const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
            for (const QFileInfo& info : files) {
                if (!extensions.contains(info.suffix().toLower()))
                    continue;
                QTest::newRow(qPrintable(info.fileName())) << info.filePath();
                if (folder == QLatin1String(TAGORA_FUZZ_REGRESSIONS_DIR))
                    ++regressions;
            }
        }
        qInfo("%d fuzz regression inputs", regressions);
    }
    void replay()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QByteArray extension = QFileInfo(path).suffix().toLower().toLatin1();
        fuzzing::exerciseFile(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                              static_cast<std::size_t>(bytes.size()), extension.constData());
        QVERIFY(QFileInfo(QString::fromLocal8Bit(fuzzing::workFolder())).isDir());
    }
};

QTEST_GUILESS_MAIN(FuzzRegressionsTest)
#include "tst_fuzzregressions.moc"
