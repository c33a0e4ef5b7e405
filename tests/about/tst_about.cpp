#include "ui/taboutform.h"

#include "services/versioninfo.h"
#include "support/recorders.h"
#include "support/refusedport.h"

#include <QGroupBox>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace tagora;

// Set in a copy of this program whose version block was removed; the copy runs only
// versionErrorKeepsTheLabel.
static const char kStrippedCopy[] = "TST_ABOUT_STRIPPED_COPY";

class TestAbout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        qunsetenv("TAGORA_SITE");
        m_boxes = std::make_unique<test::RecordingMessageBoxes>();
        m_form = std::make_unique<TAboutForm>();
    }

    void cleanup()
    {
        m_form.reset();
        m_boxes.reset();
    }

    void window()
    {
        QCOMPARE(AboutForm, m_form.get());
        QCOMPARE(m_form->windowTitle(), QStringLiteral("About Corvane Tagora"));
        QCOMPARE(m_form->size(), QSize(500, 261));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        QVERIFY(!m_form->isModal());
        QVERIFY(!m_form->isVisible());
        QVERIFY(!(m_form->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(m_form->windowFlags() & Qt::WindowMinimizeButtonHint));
        QCOMPARE(m_form->Panel1->palette().color(QPalette::Window), QColor(0xA6, 0xCA, 0xF0));
        QCOMPARE(m_form->Label1->font().family(), QStringLiteral("Verdana"));
        QCOMPARE(m_form->Label1->font().pixelSize(), 19);
        QVERIFY(!m_form->Image1->pixmap().isNull());
        QVERIFY(!m_form->Image2->pixmap().isNull());
        QVERIFY(!m_form->Image3->pixmap().isNull());
        // Nothing went wrong while it was created.
        QCOMPARE(m_boxes->texts(), QStringList());
    }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parentName");
        QTest::addColumn<QRect>("geometry"); // width and height 0: as the text needs
        QTest::addColumn<QString>("text");

        auto row = [](const char* name, const char* parent, QRect geometry, const char* text) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent)
                                << geometry << QString::fromUtf8(text);
        };
        row("Panel1", "AboutForm", {0, 0, 500, 81}, "");
        row("Image1", "Panel1", {12, 10, 64, 64}, "");
        row("Label1", "Panel1", {102, 19, 0, 0}, "Corvane Tagora");
        row("Label2", "Panel1", {102, 47, 0, 0}, "Edit metadata in MP3, WMA, OGG and APE files");
        row("GroupBox1", "AboutForm", {13, 92, 473, 109}, "  Program's Information  ");
        row("Image2", "GroupBox1", {26, 32, 16, 16}, "");
        row("Label3", "GroupBox1", {48, 32, 0, 0}, "Product Information");
        row("Image3", "GroupBox1", {26, 64, 16, 16}, "");
        row("Label4", "GroupBox1", {48, 64, 0, 0}, "Check updates...");
        row("Label6", "GroupBox1", {222, 32, 0, 0}, "Product Version: 2.5.0.7");
        row("Label9", "AboutForm", {13, 216, 0, 0}, "Copyright © Corvane. All rights reserved.");
        row("Label5", "AboutForm", {13, 235, 0, 0},
            "Tags are read and written with TagLib (taglib.org).");
        row("Button1", "AboutForm", {389, 216, 97, 28}, "Close");
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, parentName);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);

        auto* control = m_form->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget()->objectName(), parentName);
        QCOMPARE(control->pos(), geometry.topLeft());
        if (!geometry.size().isEmpty())
            QCOMPARE(control->size(), geometry.size());
        else
            QVERIFY(QRect(QPoint(), control->parentWidget()->size()).contains(control->geometry()));
        if (auto* label = qobject_cast<QLabel*>(control))
            QCOMPARE(label->text(), text);
        else if (auto* box = qobject_cast<QGroupBox*>(control))
            QCOMPARE(box->title(), text);
        else if (auto* button = qobject_cast<QPushButton*>(control))
            QCOMPARE(button->text(), text);
    }

    void links_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Label3") << QStringLiteral("Label3");
        QTest::newRow("Label4") << QStringLiteral("Label4");
    }

    void links()
    {
        QFETCH(QString, name);
        auto* link = m_form->findChild<QLabel*>(name);
        QVERIFY(link);
        QVERIFY(link->font().underline());
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    }

    void productInformationOpensTheProductPage()
    {
        test::RecordingShell desktop;
        m_form->show();
        QTest::mouseClick(m_form->Label3, Qt::RightButton);
        QCOMPARE(desktop.opened, QList<QUrl>());
        QTest::mouseClick(m_form->Label3, Qt::LeftButton);
        QCOMPARE(desktop.opened,
                 QList<QUrl>{QUrl(QStringLiteral("https://www.corvane.com/tagora/"))});
    }

    void checkUpdatesRunsTheCheck()
    {
        const quint16 port = test::refusedPort();
        QVERIFY(port != 0);
        qputenv("TAGORA_SITE", "http://127.0.0.1:" + QByteArray::number(port));
        m_form->show();
        QTest::mouseClick(m_form->Label4, Qt::LeftButton);
        QCOMPARE(m_boxes->texts(),
                 QStringList{QStringLiteral("Unable to connect : 127.0.0.1:%1").arg(port)});
    }

    void closeOnlyHides()
    {
        QPointer<TAboutForm> form = m_form.get();
        m_form->show();
        QVERIFY(m_form->isVisible());
        QTest::mouseClick(m_form->Button1, Qt::LeftButton);
        QVERIFY(!m_form->isVisible());
        m_form->show();
        QVERIFY(m_form->close());
        QCoreApplication::processEvents();
        QVERIFY(form);
        QVERIFY(!m_form->isVisible());
        QCOMPARE(m_form->Label6->text(), QStringLiteral("Product Version: 2.5.0.7"));
    }

    void versionErrorKeepsTheLabel()
    {
        // Run a copy of this program without its version block; it checks itself below.
        if (qEnvironmentVariableIsSet(kStrippedCopy)) {
            const QString self = runningExecutablePath();
            QCOMPARE(m_boxes->texts(),
                     QStringList{QStringLiteral("Invalid version info record in file ") + self +
                                 QLatin1Char('.')});
            QCOMPARE(m_boxes->shown.first().icon, MsgIcon::Error);
            QCOMPARE(m_form->Label6->text(), QStringLiteral("Product Version: 1.0.0.0"));
            return;
        }
        const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy"));
        if (objcopy.isEmpty())
            QSKIP("objcopy is not installed");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString copy = dir.filePath(QStringLiteral("tst_about_stripped"));
        QCOMPARE(QProcess::execute(objcopy, {QStringLiteral("--remove-section=.tagora_version"),
                                             QCoreApplication::applicationFilePath(), copy}),
                 0);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(kStrippedCopy), QStringLiteral("1"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(copy, {QStringLiteral("versionErrorKeepsTheLabel")});
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(child.exitCode() == 0, child.readAll().constData());
    }

    void snapshot()
    {
        // For looking at the dialog: TAGORA_SNAPSHOT_DIR=/some/folder ./tst_about snapshot
        const QString folder = qEnvironmentVariable("TAGORA_SNAPSHOT_DIR");
        if (folder.isEmpty())
            QSKIP("TAGORA_SNAPSHOT_DIR is not set");
        m_form->show();
        QVERIFY(m_form->grab().save(folder + QStringLiteral("/about.png")));
    }

private:
    std::unique_ptr<test::RecordingMessageBoxes> m_boxes;
    std::unique_ptr<TAboutForm> m_form;
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
