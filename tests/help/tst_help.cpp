#include "services/help.h"
#include "support/recorders.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

using namespace tagora;

namespace {

QString writeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write("<html></html>");
    return path;
}

} // namespace

class HelpTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensTheManualInTheBrowser_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("hasTopic");
        QTest::addColumn<QString>("topic");
        QTest::newRow("no topic") << "help" << false << QString();
        QTest::newRow("topic becomes the anchor") << "help" << true << "options";
        QTest::newRow("folder with blanks") << "My Programs/Tagora 1.0" << true << "tools";
    }
    void opensTheManualInTheBrowser()
    {
        QFETCH(QString, folder);
        QFETCH(bool, hasTopic);
        QFETCH(QString, topic);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(folder));
        const QString manual = writeFile(dir.filePath(folder + QLatin1String("/tagora.html")));
        QVERIFY(!manual.isEmpty());
        test::RecordingShell shell;
        test::RecordingMessageBoxes boxes;

        runGuarded(
            [&] { OpenHelp(manual, hasTopic ? std::optional<QString>(topic) : std::nullopt); });

        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(shell.opened.size(), 1);
        const QUrl url = shell.opened.front();
        QVERIFY(url.isLocalFile());
        QCOMPARE(url.toLocalFile(), manual);
        QCOMPARE(url.hasFragment(), hasTopic);
        QCOMPARE(url.fragment(), topic);
        QVERIFY(shell.started.isEmpty());
    }

    void failureShowsTheFullPath_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("attempts");
        QTest::newRow("missing file") << "missing" << 0;
        QTest::newRow("dangling link") << "dangling" << 0;
        QTest::newRow("shell cannot open it") << "refused" << 1;
    }
    void failureShowsTheFullPath()
    {
        QFETCH(QString, situation);
        QFETCH(int, attempts);
        QTemporaryDir dir;
        const QString manual = dir.filePath(QStringLiteral("Tagora Help/tagora.html"));
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Tagora Help")));
        test::RecordingShell shell;
        if (situation == QLatin1String("dangling"))
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone.html")), manual));
        if (situation == QLatin1String("refused")) {
            QVERIFY(!writeFile(manual).isEmpty());
            shell.result = false;
        }
        test::RecordingMessageBoxes boxes;

        runGuarded([&] { OpenHelp(manual, QStringLiteral("options")); });

        // The manual is there: then the message names the programs tried.
        const QString reason =
            situation == QLatin1String("refused")
                ? QStringLiteral("\r\nNo program could open it; tried recorded-open")
                : QString();
        QCOMPARE(boxes.texts(),
                 QStringList{QLatin1String("Unable to open help file ") + manual + reason + u'.'});
        QCOMPARE(boxes.shown.front().icon, MsgIcon::Error);
        QCOMPARE(shell.opened.size(), attempts);
        QVERIFY(shell.started.isEmpty());
    }

    // The build puts the manual beside the programs, as the install does.
    void manualLiesBesideTheProgram()
    {
        const QString manual = helpFileName();
        QCOMPARE(manual, QCoreApplication::applicationDirPath() + QLatin1String("/tagora.html"));
        QVERIFY2(QFileInfo::exists(manual), qPrintable(manual));
    }

    // Every link inside the manual leads somewhere and every picture it shows is there.
    void manualLinksAndPicturesResolve()
    {
        QFile file(helpFileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(file.readAll());
        const QRegularExpression idPattern(QStringLiteral("id=\"([^\"]+)\""));
        const QRegularExpression linkPattern(QStringLiteral("href=\"#([^\"]+)\""));
        const QRegularExpression picturePattern(QStringLiteral("src=\"([^\"]+)\""));
        QSet<QString> ids;
        for (const auto& m : idPattern.globalMatch(html))
            ids.insert(m.captured(1));
        for (const auto& m : linkPattern.globalMatch(html))
            QVERIFY2(ids.contains(m.captured(1)), qPrintable(m.captured(1)));
        for (const auto& m : picturePattern.globalMatch(html)) {
            const QString picture = QFileInfo(file).dir().filePath(m.captured(1));
            QVERIFY2(QFileInfo::exists(picture), qPrintable(picture));
        }
        // The anchors the program and the pages link to.
        for (const char* topic :
             {"window", "commands", "menus", "tools", "options", "settings", "updates"})
            QVERIFY2(ids.contains(QLatin1String(topic)), topic);
    }
};

QTEST_GUILESS_MAIN(HelpTest)
#include "tst_help.moc"
