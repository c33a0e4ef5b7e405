#include "support/recorders.h"
#include "support/refusedport.h"
#include "support/temporaryregistry.h"
#include "ui/taboutform.h"
#include "ui/tmainform.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace tagora;

// The About and Check Updates commands of the main window.
class AboutCommandsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::TemporaryRegistry> m_registry;
    std::unique_ptr<TMainForm> m_window;

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_registry = std::make_unique<test::TemporaryRegistry>();
        // As at program start: the window, then its About dialog.
        m_window = std::make_unique<TMainForm>();
        new TAboutForm(m_window.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanupTestCase()
    {
        m_window.reset();
        QVERIFY(!AboutForm);
        m_registry.reset();
    }

    void aboutShowsTheDialogModeless()
    {
        TAboutForm* const dialog = AboutForm;
        QVERIFY(!dialog->isVisible());
        m_window->AboutAction->trigger();
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(dialog->Label6->text(), QStringLiteral("Product Version: 2.5.0.7"));

        // Back to the main window, then About again: the same dialog comes to the front.
        m_window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), m_window.get());
        m_window->AboutAction->trigger();
        QCOMPARE(AboutForm, dialog);
        QCOMPARE(m_window->findChildren<TAboutForm*>().size(), 1);
        QTRY_COMPARE(QApplication::activeWindow(), dialog);
        dialog->Button1->click();
        QVERIFY(!dialog->isVisible());
    }

    void checkUpdatesRunsTheCheck()
    {
        const quint16 port = test::refusedPort();
        QVERIFY(port != 0);
        qputenv("TAGORA_SITE", "http://127.0.0.1:" + QByteArray::number(port));
        test::RecordingMessageBoxes boxes;
        m_window->UpdateAction->trigger();
        qunsetenv("TAGORA_SITE");
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral("Unable to connect : 127.0.0.1:%1").arg(port)});
    }
};

QTEST_MAIN(AboutCommandsTest)
#include "tst_aboutcommands.moc"
