// Every input the fuzzers ever crashed the library with, kept under regressions/ and named
// <anything>.<extension>, goes once more through the fuzzers' own round of open, read, set,
// save, strip, and must end in time with a refusal or a sane result. The fixtures go through
// it too and must come through whole, so the round itself stays tested.
#include "fuzzharness.h"
#include "tagora/audiotypes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTest>

namespace {

// The fuzzers' own limit for one input (run-fuzzers.sh: -timeout=10).
constexpr qint64 kSecondsPerInput = 10;

bool validUtf8(const std::string& text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return !decoder.hasError();
}

} // namespace

class FuzzRegressionsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replay_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("fixture");
        int regressions = 0;
        // The seeds are whole files like the fixtures, with pictures and many other items.
        for (const QString& folder :
             {QStringLiteral(TAGORA_FUZZ_REGRESSIONS_DIR), QStringLiteral(TAGORA_FIXTURES_DIR),
              QStringLiteral(TAGORA_FUZZ_SEEDS_DIR)}) {
            const bool fixture = folder != QLatin1String(TAGORA_FUZZ_REGRESSIONS_DIR);
            const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
            for (const QFileInfo& info : files) {
                // garbage.mp3 is a fixture of what must be refused, not a whole file.
                const QByteArray extension = '.' + info.suffix().toLatin1();
                if (!tagora::isAudioExtension(extension.toStdString(), tagora::AudioLister::Cli) ||
                    (fixture && info.fileName() == QLatin1String("garbage.mp3")))
                    continue;
                QTest::newRow(qPrintable(info.fileName())) << info.filePath() << fixture;
                regressions += fixture ? 0 : 1;
            }
        }
        qInfo("%d fuzz regression inputs", regressions);
    }
    void replay()
    {
        QFETCH(QString, path);
        QFETCH(bool, fixture);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QByteArray extension = QFileInfo(path).suffix().toLower().toLatin1();

        QElapsedTimer clock;
        clock.start();
        const tagora::test::Round round = tagora::test::exerciseFile(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size()), extension.constData());
        QVERIFY2(clock.elapsed() < kSecondsPerInput * 1000,
                 qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));

        for (const std::string& text : round.texts)
            QVERIFY2(validUtf8(text), text.c_str());
        if (round.saved)
            QCOMPARE(QByteArray::fromStdString(round.titleAfterSave),
                     QByteArray(tagora::test::kTitleSet));
        if (round.stripped)
            QCOMPARE(QByteArray::fromStdString(round.titleAfterStrip), QByteArray());
        if (fixture) {
            QVERIFY(round.opened);
            QVERIFY(round.saved);
            QVERIFY(round.stripped);
        }
    }
};

QTEST_GUILESS_MAIN(FuzzRegressionsTest)
#include "tst_fuzzregressions.moc"
