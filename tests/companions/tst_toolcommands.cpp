#include "services/help.h"
#include "support/recorders.h"
#include "support/temporaryregistry.h"
#include "ui/tmainform.h"

#include <QAction>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

using namespace tagora;

namespace {

QUrl downloadPage(const char* name)
{
    return QUrl(QLatin1String("https://www.corvane.com/") + QLatin1String(name) + u'/');
}

} // namespace

class ToolCommandsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TemporaryRegistry> m_registry;
    std::unique_ptr<TMainForm> m_window;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        qunsetenv("TAGORA_SITE");
        m_registry = std::make_unique<test::TemporaryRegistry>();
        m_window = std::make_unique<TMainForm>();
    }
    void cleanupTestCase()
    {
        m_window.reset();
        m_registry.reset();
    }

    void helpContentOpensTheManual()
    {
        test::RecordingShell shell;
        test::RecordingMessageBoxes boxes;
        m_window->HelpAction->trigger();
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(shell.opened, QList<QUrl>{QUrl::fromLocalFile(helpFileName())});
    }

    void webSiteOpensTheProductPage()
    {
        test::RecordingShell shell;
        shell.result = false;
        test::RecordingMessageBoxes boxes;
        m_window->websiteAction->trigger();
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral("Unable to open https://www.corvane.com/tagora/\r\n"
                                            "No program could open it; tried recorded-open.")});
        QCOMPARE(shell.opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://www.corvane.com/tagora/"))});
    }

    // Nothing installed: each command says so and opens its own download page.
    void toolsCommandsWithoutTheirPrograms_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QUrl>("page");
        QTest::newRow("Ondrisk") << "OndriskAction" << downloadPage("ondrisk");
        QTest::newRow("Palvane") << "PalvaneAction" << downloadPage("palvane");
        QTest::newRow("Quorrel") << "QuorrelAction" << downloadPage("quorrel");
        QTest::newRow("Brenlow") << "BrenlowAction" << downloadPage("brenlow");
        QTest::newRow("Taskerin") << "TaskerinAction" << downloadPage("taskerin");
        QTest::newRow("Mirrowen") << "MirrowenAction" << downloadPage("mirrowen");
        QTest::newRow("Recording button") << "ToolButton7" << downloadPage("ondrisk");
        QTest::newRow("Convert button") << "ToolButton8" << downloadPage("palvane");
        QTest::newRow("Edit Audio button") << "ToolButton10" << downloadPage("mirrowen");
        QTest::newRow("Tempo button") << "ToolButton11" << downloadPage("quorrel");
    }
    void toolsCommandsWithoutTheirPrograms()
    {
        QFETCH(QString, control);
        QFETCH(QUrl, page);
        test::RecordingShell shell;
        test::RecordingMessageBoxes boxes;
        if (auto* button = m_window->findChild<QToolButton*>(control)) {
            button->click();
        } else {
            auto* action = m_window->findChild<QAction*>(control);
            QVERIFY(action);
            action->trigger();
        }
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral("Component not found\r\n"
                                            "Please download and install it from our site.")});
        QCOMPARE(shell.opened, QList<QUrl>{page});
        QVERIFY(shell.started.isEmpty());
    }

    // Installed, and no row selected: started with one empty argument.
    void toolsCommandWithItsProgram()
    {
        QTemporaryDir install;
        QFile program(install.filePath(QStringLiteral("brenlow")));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\n");
        program.close();
        QVERIFY(program.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        {
            QDir().mkpath(m_registry->filePath(QStringLiteral("Corvane")));
            QSettings ini(m_registry->filePath(QStringLiteral("Corvane/Brenlow.ini")),
                          QSettings::IniFormat);
            ini.setValue(QStringLiteral("path"), QString(install.path() + u'/'));
        }
        test::RecordingShell shell;
        test::RecordingMessageBoxes boxes;
        m_window->BrenlowAction->trigger();
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(shell.opened.isEmpty());
        QCOMPARE(shell.started.size(), 1);
        QCOMPARE(shell.started.front().program, program.fileName());
        QCOMPARE(shell.started.front().arguments, QStringList{QString()});
    }
};

QTEST_MAIN(ToolCommandsTest)
#include "tst_toolcommands.moc"
