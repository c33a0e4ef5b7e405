#include "services/companions.h"
#include "support/recorders.h"
#include "support/temporaryregistry.h"
#include "ui/desktopshell.h"

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace tagora;

namespace {

const QString kNotFound = QStringLiteral("Component not found\r\n"
                                         "Please download and install it from our site.");

// A companion program's settings file in the temporary configuration folder, written
// through QSettings so the value is stored the way the store reads it back.
void registerCompanion(const QString& configFolder, const QString& name, const QVariant& path,
                       const QString& valueName = QStringLiteral("path"))
{
    QDir().mkpath(configFolder + QLatin1String("/Corvane"));
    QSettings ini(configFolder + QLatin1String("/Corvane/") + name + QLatin1String(".ini"),
                  QSettings::IniFormat);
    ini.setValue(valueName, path);
    ini.sync();
}

// A shell script that writes the number of its arguments and each argument, one a line,
// into received.txt beside itself.
bool writeReporter(const QString& fileName, bool executable = true)
{
    QFile script(fileName);
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write("#!/bin/sh\n"
                 "out=\"$(dirname \"$0\")/received.txt\"\n"
                 "printf '%s\\n' \"$#\" \"$@\" > \"$out.part\" && mv \"$out.part\" \"$out\"\n");
    script.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    return script.setPermissions(permissions);
}

} // namespace

class CompanionsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TemporaryRegistry> m_registry;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_registry = std::make_unique<test::TemporaryRegistry>();
        QVERIFY(m_registry->isValid());
        qunsetenv("TAGORA_SITE");
    }
    void cleanupTestCase() { m_registry.reset(); }
    void init() { QDir(m_registry->path() + QLatin1String("/Corvane")).removeRecursively(); }

    void fixedValues_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("name");
        QTest::newRow("Ondrisk") << int(Companion::Ondrisk) << "Ondrisk";
        QTest::newRow("Palvane") << int(Companion::Palvane) << "Palvane";
        QTest::newRow("Quorrel") << int(Companion::Quorrel) << "Quorrel";
        QTest::newRow("Brenlow") << int(Companion::Brenlow) << "Brenlow";
        QTest::newRow("Taskerin") << int(Companion::Taskerin) << "Taskerin";
        QTest::newRow("Mirrowen") << int(Companion::Mirrowen) << "Mirrowen";
    }
    void fixedValues()
    {
        QFETCH(int, which);
        QFETCH(QString, name);
        const CompanionProgram program = companionProgram(Companion(which));
        QCOMPARE(program.registryKey, QLatin1String("Software\\Corvane\\") + name);
        QCOMPARE(program.executableName, name.toLower());
        QCOMPARE(program.downloadPage,
                 QLatin1String("https://www.corvane.com/") + name.toLower() + u'/');
    }

    void downloadPageFollowsTheSite()
    {
        qputenv("TAGORA_SITE", "http://127.0.0.1:8080");
        const QString page = companionProgram(Companion::Quorrel).downloadPage;
        qunsetenv("TAGORA_SITE");
        QCOMPARE(page, QLatin1String("http://127.0.0.1:8080/quorrel/"));
    }

    // Every way of not finding the program: the message, then the download page.
    void notFound_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("not registered") << "not registered";
        QTest::newRow("key without path") << "no path";
        QTest::newRow("empty path") << "empty path";
        QTest::newRow("folder without final /") << "no final slash";
        QTest::newRow("executable missing") << "missing";
        QTest::newRow("file not executable") << "not executable";
        QTest::newRow("folder with the program's name") << "folder";
        QTest::newRow("dangling link") << "dangling link";
    }
    void notFound()
    {
        QFETCH(QString, situation);
        QTemporaryDir install;
        const QString folder = install.path() + QLatin1String("/Palvane 2/");
        QVERIFY(QDir().mkpath(folder));
        if (situation == QLatin1String("no path"))
            registerCompanion(m_registry->path(), QStringLiteral("Palvane"), 2,
                              QStringLiteral("version"));
        else if (situation == QLatin1String("empty path"))
            registerCompanion(m_registry->path(), QStringLiteral("Palvane"), QString());
        else if (situation != QLatin1String("not registered"))
            registerCompanion(m_registry->path(), QStringLiteral("Palvane"),
                              situation == QLatin1String("no final slash") ? folder.chopped(1)
                                                                           : folder);
        if (situation == QLatin1String("no final slash"))
            QVERIFY(writeReporter(folder + QLatin1String("palvane")));
        if (situation == QLatin1String("not executable"))
            QVERIFY(writeReporter(folder + QLatin1String("palvane"), false));
        if (situation == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(folder + QLatin1String("palvane")));
        if (situation == QLatin1String("dangling link"))
            QVERIFY(QFile::link(install.path() + QLatin1String("/gone"),
                                folder + QLatin1String("palvane")));
        test::RecordingShell shell;
        test::RecordingMessageBoxes boxes;

        runGuarded([] { RunCompanion(Companion::Palvane, QStringLiteral("/music/a b.mp3")); });

        QCOMPARE(boxes.texts(), QStringList{kNotFound});
        QCOMPARE(boxes.shown.front().icon, MsgIcon::None);
        QCOMPARE(boxes.shown.front().buttons, MsgButtons::Ok);
        QVERIFY(shell.started.isEmpty());
        QCOMPARE(shell.opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://www.corvane.com/palvane/"))});
    }

    void wrongTypedPathOpensNothing()
    {
        registerCompanion(m_registry->path(), QStringLiteral("Mirrowen"),
                          QStringList{QStringLiteral("/opt/a"), QStringLiteral("/opt/b")});
        test::RecordingShell shell;
        test::RecordingMessageBoxes boxes;

        runGuarded([] { RunCompanion(Companion::Mirrowen, QStringLiteral("/music/x.mp3")); });

        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Invalid data type for 'path'")});
        QCOMPARE(boxes.shown.front().icon, MsgIcon::Error);
        QVERIFY(shell.started.isEmpty());
        QVERIFY(shell.opened.isEmpty());
    }

    // Found: the joined path starts with the file as its one argument, blanks kept; nothing
    // is said and no page is opened.
    void startsTheProgram_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("handed");
        QTest::addColumn<bool>("throughLink");
        QTest::newRow("file with blanks") << int(Companion::Taskerin) << "/music/My Band/a b.mp3"
                                          << "/music/My Band/a b.mp3" << false;
        QTest::newRow("no row selected") << int(Companion::Palvane) << ""
                                         << "" << false;
        QTest::newRow("recorder gets no file") << int(Companion::Ondrisk) << "/music/a.mp3"
                                               << "" << false;
        QTest::newRow("program is a link") << int(Companion::Brenlow) << "/music/a.mid"
                                           << "/music/a.mid" << true;
    }
    void startsTheProgram()
    {
        QFETCH(int, which);
        QFETCH(QString, selected);
        QFETCH(QString, handed);
        QFETCH(bool, throughLink);
        const CompanionProgram program = companionProgram(Companion(which));
        QTemporaryDir install;
        const QString folder = install.path() + QLatin1String("/Corvane Tools/");
        QVERIFY(QDir().mkpath(folder));
        if (throughLink) {
            QVERIFY(writeReporter(install.path() + QLatin1String("/real-program")));
            QVERIFY(QFile::link(install.path() + QLatin1String("/real-program"),
                                folder + program.executableName));
        } else {
            QVERIFY(writeReporter(folder + program.executableName));
        }
        registerCompanion(m_registry->path(), program.registryKey.section(u'\\', 2), folder);
        test::RecordingShell shell;
        test::RecordingMessageBoxes boxes;

        runGuarded([&] { RunCompanion(Companion(which), selected); });

        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(shell.opened.isEmpty());
        QCOMPARE(shell.started.size(), 1);
        QCOMPARE(shell.started.front().program, folder + program.executableName);
        QCOMPARE(shell.started.front().arguments, QStringList{handed});
    }

    // The same through the real desktop shell: the program really runs and really receives
    // one argument, blanks kept, or one empty argument.
    void theProgramReceivesItsArgument_data()
    {
        QTest::addColumn<QString>("selected");
        QTest::newRow("file with blanks") << "/music/My Band/a  b 'c\".mp3";
        QTest::newRow("no row selected") << "";
    }
    void theProgramReceivesItsArgument()
    {
        QFETCH(QString, selected);
        QTemporaryDir install;
        const QString folder = install.path() + QLatin1String("/Corvane Tools/");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeReporter(folder + QLatin1String("quorrel")));
        registerCompanion(m_registry->path(), QStringLiteral("Quorrel"), folder);
        DesktopShell desktop;
        setShell(&desktop);
        test::RecordingMessageBoxes boxes;

        runGuarded([&] { RunCompanion(Companion::Quorrel, selected); });
        setShell(nullptr);

        QFile received(folder + QLatin1String("received.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(received.exists(), 10000);
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(received.readAll()),
                 QLatin1String("1\n") + selected + QLatin1Char('\n'));
        QVERIFY(boxes.shown.isEmpty());
    }

    // The first opener found on PATH takes the address, in its encoded form. With none, or
    // when the opener ends in failure, the user is told, with the openers looked for.
    void desktopShellOpeners()
    {
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()));
        DesktopShell desktop;
        setShell(&desktop);
        test::RecordingMessageBoxes boxes;
        const QUrl file = QUrl::fromEncoded("file:///music/caf%E9%20b.mp3");
        const bool withoutOpeners = desktop.openUrl(file);
        QFile gio(bin.filePath(QStringLiteral("gio")));
        QVERIFY(gio.open(QIODevice::WriteOnly));
        // Shell built-ins only: PATH holds nothing else. It finds no application.
        gio.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + QFile::encodeName(bin.path()) +
                  "/received\"\nexit 2\n");
        gio.close();
        QVERIFY(gio.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        const bool withGio = desktop.openUrl(file);
        qputenv("PATH", path);

        QVERIFY(!withoutOpeners);
        QVERIFY(withGio);
        const QString message =
            QStringLiteral("Unable to open /music/caf") + QChar(0xDCE9) +
            QStringLiteral(" b.mp3\r\nNo program could open it; tried xdg-open, gio open, "
                           "kde-open5, kde-open, exo-open.");
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts(), QStringList{message}, 10000);
        setShell(nullptr);
        QFile received(bin.filePath(QStringLiteral("received")));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), QByteArray("open\nfile:///music/caf%E9%20b.mp3\n"));
    }
};

QTEST_GUILESS_MAIN(CompanionsTest)
#include "tst_companions.moc"
