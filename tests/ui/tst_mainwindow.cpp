// The main window as built: actions, menus, tool bar, enabling rule, layout and resizing,
// hints, keyboard order and the typing limit of the tag fields.
#include "support/recorders.h"
#include "support/temporaryregistry.h"
#include "tags/tagfields.h"
#include "ui/filelist.h"
#include "ui/limitededit.h"
#include "ui/tmainform.h"
#include "ui/tsettingsform.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QFrame>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>
#include <memory>

using namespace tagora;

namespace {

// Texts of a menu's entries, "-" for a separator.
QStringList entries(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

QMenu* menuNamed(QMenuBar* bar, const QString& title)
{
    for (QAction* a : bar->actions()) {
        if (a->text() == title)
            return a->menu();
    }
    return nullptr;
}

QAction* entry(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

bool hasVisiblePixels(const QIcon& icon, int size)
{
    const QImage image = icon.pixmap(size, size).toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
    return false;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    template <typename T> T* child(const char* name) const
    {
        T* found = m_form->findChild<T*>(QLatin1String(name));
        if (!found)
            qWarning("no control %s", name);
        return found;
    }
    void selectRow(bool selected);

    std::unique_ptr<test::TemporaryRegistry> m_store;
    std::unique_ptr<test::RecordingMessageBoxes> m_boxes;
    TMainForm* m_form = nullptr;

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void actionTable_data();
    void actionTable();
    void commandKeysLeaveTheFieldsTheirKeys();
    void menusInOrder();
    void toolBar_data();
    void toolBar();
    void images_data();
    void images();
    void picturesSharpAtTheScreensScale_data();
    void picturesSharpAtTheScreensScale();
    void enablingRule();
    void popupMenu();
    void designLayout();
    void tagPageAtDesignSize_data();
    void tagPageAtDesignSize();
    void labelsBesideTheirFields();
    void tagPageControlsStayApart();
    void widening();
    void minimumSizes();
    void hintsOnlyOnTheFiveButtons();
    void keyboardOrder();
    void fieldsNamedByTheirLabels_data();
    void fieldsNamedByTheirLabels();
    void regionsNamed_data();
    void regionsNamed();
    void folderTreeHeaderNamed();
    void listRowReadWithItsTitle();
    void typingLimit_data();
    void typingLimit();
    void longProgramTextKeptWhole();
    void contextMenuPasteLimited();
    void clearAll();
    void exitCloses();
    void optionsComesToFront();
};

void TestMainWindow::initTestCase()
{
    m_store = std::make_unique<test::TemporaryRegistry>();
    QVERIFY(m_store->isValid());
}

void TestMainWindow::cleanupTestCase()
{
    m_store.reset();
}

void TestMainWindow::init()
{
    m_boxes = std::make_unique<test::RecordingMessageBoxes>();
    m_form = new TMainForm;
    new TsettingsForm(m_form);
    QCOMPARE(MainForm, m_form);
}

void TestMainWindow::cleanup()
{
    delete settingsForm;
    delete m_form;
    m_form = nullptr;
    QVERIFY2(m_boxes->shown.isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
    m_boxes.reset();
}

void TestMainWindow::selectRow(bool selected)
{
    m_form->files->clear();
    if (selected) {
        m_form->files->appendRow({QStringLiteral("a.mp3")});
        m_form->files->setCurrentRow(0);
    }
    m_form->validatecontrols();
}

// The documented action table: category, caption, hint and whether a picture comes with it;
// the five row commands are the ones the enabling rule names.
void TestMainWindow::actionTable_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("image");
    QTest::addColumn<bool>("rowCommand");

    const QStringList rowCommands = {QStringLiteral("PlayAction"), QStringLiteral("SaveTagAction"),
                                     QStringLiteral("RemoveTagAction"),
                                     QStringLiteral("CopyTagAction"),
                                     QStringLiteral("PasteTagAction")};
    auto row = [&rowCommands](const char* name, const char* category, const char* caption,
                              const char* hint, bool image = false) {
        QTest::newRow(name) << QString::fromLatin1(category) << QString::fromLatin1(caption)
                            << QString::fromLatin1(hint) << image
                            << rowCommands.contains(QLatin1String(name));
    };
    row("RefreshAction", "File", "Refresh", "Refresh Folder", true);
    row("OptionsAction", "File", "Options", "");
    row("ExitAction", "File", "Exit", "Exit");
    row("PlayAction", "", "Play", "Play", true);
    row("SaveTagAction", "Action", "Save Tag", "Save tag inside audio file");
    row("RemoveTagAction", "Action", "Remove Tag", "Remove tag from audio file");
    row("CopyTagAction", "Action", "Copy Tag", "Copy tag to clipboard");
    row("PasteTagAction", "Action", "Paste Tag", "Paste tag from clipboard");
    row("HelpAction", "Help", "Help Content", "");
    row("websiteAction", "Help", "Web site...", "");
    row("UpdateAction", "Help", "Check Updates...", "");
    row("AboutAction", "Help", "About", "");
    for (const char* tool : {"Ondrisk", "Palvane", "Quorrel", "Brenlow", "Taskerin", "Mirrowen"})
        row(QByteArray(tool + QByteArray("Action")).constData(), "Tools", tool, "");
}

void TestMainWindow::actionTable()
{
    QFETCH(QString, category);
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    QFETCH(bool, image);
    QFETCH(bool, rowCommand);

    QCOMPARE(m_form->ActionManager1->findChildren<QAction*>().size(), 18);
    auto* action =
        m_form->ActionManager1->findChild<QAction*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(action);
    QCOMPARE(action->property("category").toString(), category);
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->statusTip(), hint);
    QCOMPARE(!action->icon().isNull(), image);

    // An action of a category is found in the menu of that name, under its caption with an
    // access letter; the entry shows the action's keys, which only the action answers.
    if (!category.isEmpty()) {
        QMenu* menu = menuNamed(m_form->ActionMainMenuBar1, QLatin1Char('&') + category);
        QVERIFY(menu);
        QAction* shown = nullptr;
        for (QAction* a : menu->actions()) {
            if (a->text().remove(QLatin1Char('&')) == caption)
                shown = a;
        }
        QVERIFY2(shown, "not in its menu");
        QCOMPARE(shown->text().count(QLatin1Char('&')), 1);
        QCOMPARE(shown->shortcuts(), action->shortcuts());
        QCOMPARE(shown->shortcutContext(), Qt::WidgetShortcut);
    }

    selectRow(false);
    QCOMPARE(action->isEnabled(), !rowCommand);
    selectRow(true);
    QVERIFY(action->isEnabled());
    selectRow(false);
    QCOMPARE(action->isEnabled(), !rowCommand);
}

// The window's keys (tst_keyboard presses each) never clash: no two commands share one, and
// none takes a key the edit fields use for their own text.
void TestMainWindow::commandKeysLeaveTheFieldsTheirKeys()
{
    const QKeySequence::StandardKey fieldKeys[] = {QKeySequence::Copy,
                                                   QKeySequence::Paste,
                                                   QKeySequence::Cut,
                                                   QKeySequence::Undo,
                                                   QKeySequence::Redo,
                                                   QKeySequence::SelectAll,
                                                   QKeySequence::Delete,
                                                   QKeySequence::Backspace,
                                                   QKeySequence::DeleteStartOfWord,
                                                   QKeySequence::DeleteEndOfWord,
                                                   QKeySequence::MoveToNextWord,
                                                   QKeySequence::MoveToPreviousWord,
                                                   QKeySequence::SelectNextWord,
                                                   QKeySequence::SelectPreviousWord,
                                                   QKeySequence::MoveToStartOfLine,
                                                   QKeySequence::MoveToEndOfLine,
                                                   QKeySequence::SelectStartOfLine,
                                                   QKeySequence::SelectEndOfLine};
    QList<QKeySequence> taken;
    for (QKeySequence::StandardKey key : fieldKeys)
        taken += QKeySequence::keyBindings(key);

    QList<QKeySequence> used;
    for (const QAction* action : m_form->findChildren<QAction*>()) {
        // Menu and tool bar entries only show their source's keys.
        if (action->shortcutContext() == Qt::WidgetShortcut)
            continue;
        for (const QKeySequence& key : action->shortcuts()) {
            const QString name = action->objectName() + QLatin1Char(' ') + key.toString();
            QVERIFY2(!taken.contains(key), qPrintable(name));
            QVERIFY2(!used.contains(key), qPrintable(name));
            used << key;
        }
    }
    QVERIFY(!taken.isEmpty());
    QVERIFY(!used.isEmpty());
}

void TestMainWindow::menusInOrder()
{
    QMenuBar* bar = m_form->ActionMainMenuBar1;
    QStringList titles;
    for (const QAction* a : bar->actions())
        titles << a->text();
    QCOMPARE(titles, (QStringList{QStringLiteral("&File"), QStringLiteral("&Action"),
                                  QStringLiteral("&Tools"), QStringLiteral("&Help")}));
    QCOMPARE(entries(menuNamed(bar, QStringLiteral("&File"))),
             (QStringList{QStringLiteral("&Refresh"), QStringLiteral("&Options"),
                          QStringLiteral("-"), QStringLiteral("&Exit")}));
    QCOMPARE(entries(menuNamed(bar, QStringLiteral("&Action"))),
             (QStringList{QStringLiteral("&Copy Tag"), QStringLiteral("&Paste Tag"),
                          QStringLiteral("&Save Tag"), QStringLiteral("&Remove Tag")}));
    QCOMPARE(entries(menuNamed(bar, QStringLiteral("&Tools"))),
             (QStringList{QStringLiteral("&Ondrisk"), QStringLiteral("&Palvane"),
                          QStringLiteral("&Quorrel"), QStringLiteral("&Brenlow"),
                          QStringLiteral("&Taskerin"), QStringLiteral("&Mirrowen")}));
    QCOMPARE(entries(menuNamed(bar, QStringLiteral("&Help"))),
             (QStringList{QStringLiteral("&Help Content"), QStringLiteral("&Web site..."),
                          QStringLiteral("&Check Updates..."), QStringLiteral("&About")}));

    // Entries stand for their actions: choosing one runs the action.
    QSignalSpy exit(m_form->ExitAction, &QAction::triggered);
    entry(menuNamed(bar, QStringLiteral("&File")), QStringLiteral("&Exit"))->trigger();
    QCOMPARE(exit.count(), 1);
    // Only Refresh carries a picture in the menus.
    QVERIFY(!entry(menuNamed(bar, QStringLiteral("&File")), QStringLiteral("&Refresh"))
                 ->icon()
                 .isNull());
    QVERIFY(entry(menuNamed(bar, QStringLiteral("&File")), QStringLiteral("&Options"))
                ->icon()
                .isNull());
}

void TestMainWindow::toolBar_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("followsSelection");
    QTest::newRow("ToolButton1") << QStringLiteral("Play") << true;
    QTest::newRow("ToolButton2") << QStringLiteral("Refresh") << false;
    QTest::newRow("ToolButton3") << QStringLiteral("Copy Tag") << true;
    QTest::newRow("ToolButton4") << QStringLiteral("Paste Tag") << true;
    QTest::newRow("ToolButton5") << QStringLiteral("Options") << false;
    QTest::newRow("ToolButton7") << QStringLiteral("Recording") << false;
    QTest::newRow("ToolButton8") << QStringLiteral("Convert") << false;
    QTest::newRow("ToolButton10") << QStringLiteral("Edit Audio") << false;
    QTest::newRow("ToolButton11") << QStringLiteral(" Tempo") << false;
}

void TestMainWindow::toolBar()
{
    QFETCH(QString, caption);
    QFETCH(bool, followsSelection);

    auto* button =
        m_form->ToolBar1->findChild<QToolButton*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
    QCOMPARE(button->size(), QSize(55, 42));
    QCOMPARE(button->iconSize(), QSize(22, 22));
    QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(hasVisiblePixels(button->icon(), 22));
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    // The window's fonts were picked so that every caption fits its button.
    QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) <= button->width());

    selectRow(false);
    QCOMPARE(button->isEnabled(), !followsSelection);
    selectRow(true);
    QVERIFY(button->isEnabled());
}

void TestMainWindow::images_data()
{
    QTest::addColumn<int>("size");
    for (const char* name : {"play-16", "refresh-16", "tag-16"})
        QTest::newRow(name) << 16;
    for (const char* name : {"play-22", "refresh-22", "copytag-22", "pastetag-22", "options-22",
                             "recording-22", "convert-22", "midi-22", "editaudio-22", "tempo-22"})
        QTest::newRow(name) << 22;
}

void TestMainWindow::images()
{
    QFETCH(int, size);
    const QImage image(
        QStringLiteral(":/icons/%1.png").arg(QLatin1String(QTest::currentDataTag())));
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(hasVisiblePixels(QIcon(QPixmap::fromImage(image)), size));
}

void TestMainWindow::picturesSharpAtTheScreensScale_data()
{
    QTest::addColumn<int>("size");
    for (const char* name : {"play-16", "refresh-16", "tag-16", "checkupdates", "productinfo"})
        QTest::newRow(name) << 16;
    for (const char* name : {"play-22", "refresh-22", "copytag-22", "pastetag-22", "options-22",
                             "recording-22", "convert-22", "midi-22", "editaudio-22", "tempo-22"})
        QTest::newRow(name) << 22;
    QTest::newRow("tagora") << 64;
}

// Run at the scales 1 and 2 (QT_SCALE_FACTOR): a picture is drawn from its own rendering at
// the screen's scale, never enlarged from a smaller one.
void TestMainWindow::picturesSharpAtTheScreensScale()
{
    QFETCH(int, size);
    const QString name = QLatin1String(QTest::currentDataTag());
    const QImage single(QStringLiteral(":/icons/%1.png").arg(name));
    const QImage twice(QStringLiteral(":/icons/%1@2x.png").arg(name));
    QCOMPARE(single.size(), QSize(size, size));
    QCOMPARE(twice.size(), QSize(size, size) * 2);

    const qreal scale = qApp->devicePixelRatio();
    QVERIFY(scale == 1 || scale == 2);
    const QImage expected =
        (scale == 2 ? twice : single).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/%1.png").arg(name));
    const QImage drawn = icon.pixmap(QSize(size, size), scale)
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(drawn.size(), expected.size());
    QVERIFY(drawn == expected);
    if (name == QLatin1String("tagora")) {
        const QImage windowIcon = m_form->windowIcon()
                                      .pixmap(QSize(size, size), scale)
                                      .toImage()
                                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QVERIFY(windowIcon == expected);
    }
}

void TestMainWindow::enablingRule()
{
    QMenuBar* bar = m_form->ActionMainMenuBar1;
    QMenu* actionMenu = menuNamed(bar, QStringLiteral("&Action"));
    QMenu* toolsMenu = menuNamed(bar, QStringLiteral("&Tools"));
    const QList<QPushButton*> buttons = {m_form->Button1, m_form->Button2, m_form->Button3,
                                         m_form->Button4, m_form->Button5};

    for (bool selected : {false, true, false}) {
        selectRow(selected);
        for (const QAction* a : actionMenu->actions())
            QCOMPARE(a->isEnabled(), selected);
        for (const QAction* a : toolsMenu->actions())
            QVERIFY(a->isEnabled());
        for (const QPushButton* b : buttons)
            QCOMPARE(b->isEnabled(), selected);
        for (QLineEdit* field : m_form->TabSheet1->findChildren<QLineEdit*>())
            QVERIFY(field->isEnabled());
        QCOMPARE(m_form->Rename2->isEnabled(), selected);
    }

    // enablecontrols touches exactly its six: the rest stay enabled either way.
    m_form->enablecontrols(false);
    for (QAction* a :
         {m_form->RefreshAction, m_form->OptionsAction, m_form->ExitAction, m_form->HelpAction,
          m_form->websiteAction, m_form->UpdateAction, m_form->AboutAction, m_form->OndriskAction,
          m_form->PalvaneAction, m_form->QuorrelAction, m_form->BrenlowAction,
          m_form->TaskerinAction, m_form->MirrowenAction})
        QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
}

void TestMainWindow::popupMenu()
{
    QCOMPARE(m_form->PopupActionBar1->objectName(), QStringLiteral("PopupActionBar1"));
    QCOMPARE(m_form->PopupActionBar1->actions(), QList<QAction*>{m_form->Rename2});
    QCOMPARE(m_form->Rename2->text(), QStringLiteral("Play"));
    QCOMPARE(m_form->files->contextMenuPolicy(), Qt::CustomContextMenu);
    selectRow(true);
    test::RecordingShell shell;
    QSignalSpy play(m_form->PlayAction, &QAction::triggered);
    m_form->Rename2->trigger();
    QCOMPARE(play.count(), 1);
    QCOMPARE(shell.opened.size(), 1);
}

void TestMainWindow::designLayout()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Corvane Tagora"));
    QCOMPARE(m_form->size(), QSize(785, 525));
    QCOMPARE(m_form->CoolBar1->geometry().top(), 0);
    QCOMPARE(m_form->CoolBar1->height(), 71);
    QCOMPARE(m_form->ActionMainMenuBar1->height(), 25);
    QCOMPARE(m_form->ToolBar1->height(), 42);
    QCOMPARE(m_form->StatusBar1->height(), 19);
    QCOMPARE(m_form->StatusBar1->geometry().bottom(), 524);
    QCOMPARE(m_form->StatusPanel0->width(), 200);
    QCOMPARE(m_form->StatusPanel1->width(), 50);
    QCOMPARE(m_form->ShellTreeView1->width(), 176);
    QCOMPARE(m_form->Splitter1->handleWidth(), 5);
    QCOMPARE(m_form->Panel1->width(), 785 - 176 - 5);
    QCOMPARE(m_form->Panel1->height(), 525 - 71 - 19);
    QCOMPARE(m_form->PageControl1->height(), 249);
    QCOMPARE(m_form->PageControl1->geometry().bottom(), m_form->Panel1->height() - 1);
    QCOMPARE(m_form->files->height(), m_form->Panel1->height() - 249);
    QCOMPARE(m_form->files->height(), 186);
    QCOMPARE(m_form->PageControl1->tabText(0), QStringLiteral(" Tag Info "));
    QCOMPARE(m_form->PageControl1->count(), 1);
}

// The page as its documentation draws it at its design size of 596 x 221: rows 28 apart from
// 16, labels from 16 and the first column's fields from 80, every field 21 high; a field that
// stretches ends 19 short of the page's right edge; the buttons in a row at 183, 25 high.
void TestMainWindow::tagPageAtDesignSize_data()
{
    QTest::addColumn<QRect>("design");
    QTest::addColumn<int>("anchor"); // 0 left, 1 stretches, 2 right
    constexpr int kPageWidth = 596;
    auto rowTop = [](int row) { return 16 + 28 * (row - 1); };
    auto stretching = [&](const char* name, int row, int left) {
        QTest::newRow(name) << QRect(QPoint(left, rowTop(row)),
                                     QPoint(kPageWidth - 19 - 1, rowTop(row) + 20))
                            << 1;
    };
    auto fixed = [&](const char* name, int left) {
        QTest::newRow(name) << QRect(left, rowTop(4), 50, 21) << 0;
    };
    auto button = [](const char* name, int left, int width, int anchor) {
        QTest::newRow(name) << QRect(left, 183, width, 25) << anchor;
    };
    stretching("TitleEdit", 1, 80);
    stretching("ArtistEdit", 2, 80);
    stretching("AlbumEdit", 3, 80);
    fixed("TrackEdit", 80);
    fixed("YearEdit", 170);
    fixed("BPMEdit", 265);
    fixed("KeyEdit", 355);
    stretching("GenreEdit", 4, 460);
    stretching("CommentEdit", 5, 80);
    stretching("CopyrightEdit", 6, 80);
    button("Button3", 80, 65, 0);
    button("Button4", 151, 65, 0);
    button("Button5", 222, 65, 0);
    button("Button1", 421, 75, 2);
    button("Button2", 502, 76, 2);
}

void TestMainWindow::tagPageAtDesignSize()
{
    QFETCH(QRect, design);
    QFETCH(int, anchor);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QWidget* control = child<QWidget>(QTest::currentDataTag());
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), m_form->TabSheet1);

    for (int widen : {0, 215, -100}) {
        m_form->resize(785 + widen, 525 + widen);
        QCoreApplication::processEvents();
        // Measured against the page as the style sizes it inside the 249-high tab control.
        const int grow = m_form->TabSheet1->width() - 596;
        QRect expected = design;
        if (anchor == 1)
            expected.setWidth(design.width() + grow);
        else if (anchor == 2)
            expected.moveLeft(design.left() + grow);
        QCOMPARE(control->geometry(), expected);
        if (anchor == 1)
            QCOMPARE(m_form->TabSheet1->width() - control->geometry().right() - 1, 19);
    }
}

// A label starts where it is documented, on its field's row, and ends, caption whole, before
// its field begins. One window for all ten: showing one takes a good part of a second.
void TestMainWindow::labelsBesideTheirFields()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    const QHash<QString, int> documentedLeft = {{QStringLiteral("YearLabel"), 138},
                                                {QStringLiteral("Label1"), 230},
                                                {QStringLiteral("Label2"), 323},
                                                {QStringLiteral("GenreLabel"), 415}};
    for (const TagField& tagField : TagFields) {
        const QString labelName = QLatin1String(tagField.labelName);
        auto* label = m_form->TabSheet1->findChild<QLabel*>(labelName);
        auto* edit = m_form->TabSheet1->findChild<LimitedEdit*>(QLatin1String(tagField.editName));
        QVERIFY2(label && edit, tagField.name);
        const QRect text = label->geometry();
        const QRect field = edit->geometry();
        QCOMPARE(text.left(), documentedLeft.value(labelName, 16));
        QVERIFY2(text.center().y() >= field.top() && text.center().y() <= field.bottom(),
                 tagField.name);
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= text.width(),
                 tagField.name);
        QVERIFY2(text.right() < field.left(), tagField.name);
    }
}

// Whatever the window's width, the page's controls stay whole inside it, none over another,
// and the buttons' captions fit them.
void TestMainWindow::tagPageControlsStayApart()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    for (int width : {785, 785 + 215, 0}) {
        m_form->resize(width, 525);
        QCoreApplication::processEvents();
        const QRect page = m_form->TabSheet1->rect();
        const QList<QWidget*> controls =
            m_form->TabSheet1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(controls.size(), 25);
        for (int i = 0; i < controls.size(); ++i) {
            const QWidget* control = controls.at(i);
            const QByteArray where =
                control->objectName().toLatin1() + " at width " + QByteArray::number(width);
            QVERIFY2(page.contains(control->geometry()), where.constData());
            for (int j = i + 1; j < controls.size(); ++j)
                QVERIFY2(!control->geometry().intersects(controls.at(j)->geometry()),
                         QByteArray(where + " over " + controls.at(j)->objectName().toLatin1())
                             .constData());
        }
        for (QPushButton* button : m_form->TabSheet1->findChildren<QPushButton*>())
            QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width(),
                     qPrintable(button->objectName()));
    }
}

void TestMainWindow::widening()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    const int listHeight = m_form->files->height();
    const int pageWidth = m_form->TabSheet1->width();
    const int treeWidth = m_form->ShellTreeView1->width();
    const QRect save = m_form->Button1->geometry();
    const QRect copy = m_form->Button3->geometry();
    const int title = m_form->TitleEdit->width();

    m_form->resize(785 + 120, 525 + 80);
    QCoreApplication::processEvents();
    QCOMPARE(m_form->files->height(), listHeight + 80);
    QCOMPARE(m_form->PageControl1->height(), 249);
    QCOMPARE(m_form->ShellTreeView1->width(), treeWidth);
    QCOMPARE(m_form->TabSheet1->width(), pageWidth + 120);
    QCOMPARE(m_form->TitleEdit->width(), title + 120);
    QCOMPARE(m_form->Button1->geometry(), save.translated(120, 0));
    QCOMPARE(m_form->Button3->geometry(), copy);
    QCOMPARE(m_form->TrackEdit->width(), 50);
}

void TestMainWindow::minimumSizes()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    QCOMPARE(m_form->Panel1->minimumSize(), QSize(470, 310));
    m_form->resize(200, 150);
    QCoreApplication::processEvents();
    QCOMPARE(m_form->Panel1->size(), QSize(470, 310));
    QCOMPARE(m_form->ShellTreeView1->width(), 150);
    QCOMPARE(m_form->size(), QSize(150 + 5 + 470, 71 + 310 + 19));

    // The splitter stops where either side would drop below its minimum.
    m_form->resize(900, 525);
    QCoreApplication::processEvents();
    m_form->Splitter1->setSizes({20, 900});
    QCOMPARE(m_form->ShellTreeView1->width(), 150);
    m_form->Splitter1->setSizes({900, 20});
    QCOMPARE(m_form->Panel1->width(), 470);
    QVERIFY(!m_form->Splitter1->childrenCollapsible());
}

void TestMainWindow::hintsOnlyOnTheFiveButtons()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    const QList<QPair<QPushButton*, QString>> hinted = {
        {m_form->Button1, QStringLiteral("Save tag inside audio file (Ctrl+S)")},
        {m_form->Button2, QStringLiteral("Remove tag from audio file (Ctrl+Shift+Del)")},
        {m_form->Button3, QStringLiteral("Copy tag to clipboard (Ctrl+Shift+C)")},
        {m_form->Button4, QStringLiteral("Paste tag from clipboard (Ctrl+Shift+V)")},
        {m_form->Button5, QStringLiteral("Clear edit fields")}};
    QStringList captions;
    for (const auto& [button, hint] : hinted) {
        QCOMPARE(button->toolTip(), hint);
        captions << button->text();
    }
    QCOMPARE(captions, (QStringList{QStringLiteral("Save Tag"), QStringLiteral("Remove Tag"),
                                    QStringLiteral("Copy Tag"), QStringLiteral("Paste Tag"),
                                    QStringLiteral("Clear")}));

    // Tool buttons carry their action's tool tip, but the window does not show it.
    for (QToolButton* button : m_form->ToolBar1->findChildren<QToolButton*>()) {
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QVERIFY(QCoreApplication::sendEvent(button, &help));
        QVERIFY2(!QToolTip::isVisible(), qPrintable(button->objectName()));
    }
    for (QWidget* w : m_form->findChildren<QWidget*>()) {
        if (qobject_cast<QToolButton*>(w) || qobject_cast<QPushButton*>(w))
            continue;
        QVERIFY2(w->toolTip().isEmpty(), qPrintable(w->objectName()));
    }
    // No status tip reaches the status bar.
    QStatusTipEvent tip(QStringLiteral("Refresh Folder"));
    QCoreApplication::sendEvent(m_form, &tip);
    QVERIFY(m_form->StatusBar1->currentMessage().isEmpty());
}

void TestMainWindow::keyboardOrder()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    const QList<QWidget*> expected = {
        m_form->TitleEdit, m_form->ArtistEdit, m_form->AlbumEdit,   m_form->TrackEdit,
        m_form->YearEdit,  m_form->GenreEdit,  m_form->CommentEdit, m_form->CopyrightEdit,
        m_form->Button1,   m_form->Button2,    m_form->Button3,     m_form->Button4,
        m_form->Button5,   m_form->BPMEdit,    m_form->KeyEdit,     m_form->ShellTreeView1};
    // Walk the focus chain, keeping widgets that take focus with the Tab key.
    QList<QWidget*> order;
    QWidget* w = m_form->TitleEdit;
    while (order.size() < expected.size()) {
        if ((w->focusPolicy() & Qt::TabFocus) && expected.contains(w))
            order << w;
        w = w->nextInFocusChain();
        if (w == m_form->TitleEdit)
            break;
    }
    QCOMPARE(order, expected);
    // The list and the page come before the tree.
    QWidget* before = m_form->files;
    while (before != m_form->TitleEdit && before != m_form->ShellTreeView1)
        before = before->nextInFocusChain();
    QCOMPARE(before, m_form->TitleEdit);
    QCOMPARE(m_form->ActionMainMenuBar1->focusPolicy(), Qt::NoFocus);
}

void TestMainWindow::fieldsNamedByTheirLabels_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("labelName");
    QTest::addColumn<QString>("editName");
    // Written out rather than taken from the field table, so that a row lost from the table,
    // moved in it or given another name shows here.
    const char* const fields[][3] = {{"Title", "TitleLabel", "TitleEdit"},
                                     {"Artist", "ArtistLabel", "ArtistEdit"},
                                     {"Album", "AlbumLabel", "AlbumEdit"},
                                     {"Track", "TrackLabel", "TrackEdit"},
                                     {"Year", "YearLabel", "YearEdit"},
                                     {"Genre", "GenreLabel", "GenreEdit"},
                                     {"Comment", "CommentLabel", "CommentEdit"},
                                     {"Copyright", "CopyrightLabel", "CopyrightEdit"},
                                     {"BPM", "Label1", "BPMEdit"},
                                     {"Key", "Label2", "KeyEdit"}};
    for (int row = 0; row < int(std::size(fields)); ++row)
        QTest::newRow(fields[row][0])
            << row << QString::fromLatin1(fields[row][1]) << QString::fromLatin1(fields[row][2]);
}

// What a screen reader finds: each field under its label's text without the colon, with the
// label pointing at the field and back.
void TestMainWindow::fieldsNamedByTheirLabels()
{
    QFETCH(int, row);
    QFETCH(QString, labelName);
    QFETCH(QString, editName);
    QVERIFY(std::size_t(row) < TagFields.size());
    const TagField& tableRow = TagFields[std::size_t(row)];
    QCOMPARE(QLatin1String(tableRow.name), QLatin1String(QTest::currentDataTag()));
    QCOMPARE(QLatin1String(tableRow.labelName), labelName);
    QCOMPARE(QLatin1String(tableRow.editName), editName);
    auto* label = m_form->TabSheet1->findChild<QLabel*>(labelName);
    auto* edit = m_form->TabSheet1->findChild<LimitedEdit*>(editName);
    QVERIFY(label && edit);
    const QString name = QLatin1String(QTest::currentDataTag());
    QCOMPARE(label->text(), name + QLatin1Char(':'));
    QCOMPARE(label->buddy(), edit);

    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(edit);
    QAccessibleInterface* caption = QAccessible::queryAccessibleInterface(label);
    QVERIFY(field && caption);
    QCOMPARE(field->role(), QAccessible::EditableText);
    QCOMPARE(field->text(QAccessible::Name), name);
    const auto labelledBy = field->relations(QAccessible::Label);
    QCOMPARE(labelledBy.size(), 1);
    QCOMPARE(labelledBy.first().first->object(), label);
    const auto labels = caption->relations(QAccessible::Labelled);
    QCOMPARE(labels.size(), 1);
    QCOMPARE(labels.first().first->object(), edit);
}

void TestMainWindow::regionsNamed_data()
{
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("name");
    QTest::newRow("folder tree") << "ShellTreeView1" << QAccessible::Tree << "Folders";
    QTest::newRow("file list") << "files" << QAccessible::Tree << "Files";
    QTest::newRow("menu bar") << "ActionMainMenuBar1" << QAccessible::MenuBar << "Main menu";
    QTest::newRow("tool bar") << "ToolBar1" << QAccessible::ToolBar << "Tool bar";
    QTest::newRow("status bar") << "StatusBar1" << QAccessible::StatusBar << "Status bar";
}

void TestMainWindow::regionsNamed()
{
    QFETCH(QString, objectName);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, name);
    auto* widget = m_form->findChild<QWidget*>(objectName);
    QVERIFY(widget);
    QAccessibleInterface* region = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(region);
    QCOMPARE(region->role(), role);
    QCOMPARE(region->text(QAccessible::Name), name);
}

// The tree hides its header, but assistive tools list its column all the same.
void TestMainWindow::folderTreeHeaderNamed()
{
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(m_form->ShellTreeView1);
    QVERIFY(tree && tree->tableInterface());
    QAccessibleInterface* header = tree->child(0);
    QVERIFY(header);
    QCOMPARE(header->role(), QAccessible::ColumnHeader);
    QCOMPARE(header->text(QAccessible::Name), QStringLiteral("Folders"));
}

// A row is read by its first cell: the file name, and the title when it has one; it follows
// the title cell when a save or removal rewrites it.
void TestMainWindow::listRowReadWithItsTitle()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    FileList* list = m_form->files;
    list->appendRow(
        {QStringLiteral("b.mp3"), QString(), QString(), QStringLiteral("0:00:02"), QString()});
    list->appendRow({QStringLiteral("a.mp3"), QStringLiteral("A Title"),
                     QStringLiteral("An Artist"), QStringLiteral("0:00:01"), QString()});
    QCoreApplication::processEvents(); // lays the new rows out
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(list);
    QVERIFY(table && table->tableInterface());
    auto firstCell = [&](const char* fileName) {
        QAccessibleInterface* cell = table->tableInterface()->cellAt(
            list->rowNamed(QLatin1String(fileName)), FileList::FileColumn);
        return cell ? cell->text(QAccessible::Name) : QStringLiteral("(no cell)");
    };
    QCOMPARE(firstCell("a.mp3"), QStringLiteral("a.mp3, A Title"));
    QCOMPARE(firstCell("b.mp3"), QStringLiteral("b.mp3"));
    const int titled = list->rowNamed(QStringLiteral("a.mp3"));
    list->setCellText(titled, FileList::TitleColumn, QStringLiteral("Saved"));
    QCOMPARE(firstCell("a.mp3"), QStringLiteral("a.mp3, Saved"));
    // The cell shows the file name alone.
    QCOMPARE(list->cellText(titled, FileList::FileColumn), QStringLiteral("a.mp3"));
}

void TestMainWindow::typingLimit_data()
{
    QTest::addColumn<int>("limit");
    for (const char* name : {"TitleEdit", "ArtistEdit", "AlbumEdit", "TrackEdit", "YearEdit",
                             "GenreEdit", "CommentEdit", "CopyrightEdit"})
        QTest::newRow(name) << 250;
    QTest::newRow("BPMEdit") << 0;
    QTest::newRow("KeyEdit") << 0;
}

void TestMainWindow::typingLimit()
{
    QFETCH(int, limit);
    auto* field = child<LimitedEdit>(QTest::currentDataTag());
    QVERIFY(field);
    QCOMPARE(field->typingLimit(), limit);
    QCOMPARE(field->maxLength(), 32767); // the limit must not cut what the program sets

    const int typed = limit ? limit + 10 : 300;
    QTest::keyClicks(field, QString(typed, QLatin1Char('x')));
    QCOMPARE(field->text().size(), limit ? limit : typed);

    // Pasting inserts what fits, at the cursor.
    field->setText(QString(limit ? limit - 3 : 10, QLatin1Char('a')));
    field->setCursorPosition(2);
    QGuiApplication::clipboard()->setText(QStringLiteral("0123456789"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    if (limit) {
        QCOMPARE(field->text().size(), limit);
        QCOMPARE(field->text().left(6), QStringLiteral("aa012a"));
        QCOMPARE(field->cursorPosition(), 5);
    } else {
        QCOMPARE(field->text().size(), 20);
    }
}

void TestMainWindow::longProgramTextKeptWhole()
{
    const QString stored(300, QLatin1Char('t'));
    m_form->TitleEdit->setText(stored);
    QCOMPARE(m_form->TitleEdit->text(), stored);

    // The user cannot lengthen it, but can shorten it.
    m_form->TitleEdit->setCursorPosition(300);
    QTest::keyClicks(m_form->TitleEdit, QStringLiteral("abc"));
    QCOMPARE(m_form->TitleEdit->text(), stored);
    QTest::keyClick(m_form->TitleEdit, Qt::Key_Backspace);
    QCOMPARE(m_form->TitleEdit->text().size(), 299);
    // Still over the limit: typing is refused, as it is for any full field.
    QTest::keyClicks(m_form->TitleEdit, QStringLiteral("z"));
    QCOMPARE(m_form->TitleEdit->text(), QString(299, QLatin1Char('t')));
    m_form->TitleEdit->selectAll();
    QTest::keyClicks(m_form->TitleEdit, QStringLiteral("short"));
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("short"));

    // Undo goes back to the long text whole.
    m_form->TitleEdit->setText(stored);
    m_form->TitleEdit->selectAll();
    QTest::keyClicks(m_form->TitleEdit, QStringLiteral("a"));
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("a"));
    QTest::keyClick(m_form->TitleEdit, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(m_form->TitleEdit->text(), stored);
}

void TestMainWindow::contextMenuPasteLimited()
{
    LimitedEdit* field = m_form->CommentEdit;
    field->setText(QString(245, QLatin1Char('c')));
    field->setCursorPosition(245);
    QGuiApplication::clipboard()->setText(QStringLiteral("0123456789"));
    bool pasted = false;
    QTimer::singleShot(0, this, [&pasted] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* a : menu->actions()) {
            if (a->text().startsWith(QLatin1String("&Paste"))) {
                a->trigger();
                pasted = true;
            }
        }
        menu->close();
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(5, 5),
                                field->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(field, &menuEvent);
    QVERIFY(pasted);
    QCOMPARE(field->text(), QString(245, QLatin1Char('c')) + QStringLiteral("01234"));
}

void TestMainWindow::clearAll()
{
    const QList<QLineEdit*> fields = m_form->findChildren<QLineEdit*>();
    for (QLineEdit* field : fields)
        field->setText(QStringLiteral("value"));
    m_form->enablecontrols(true);
    m_form->ClearAll();
    QCOMPARE(fields.size(), 10);
    for (QLineEdit* field : fields)
        QVERIFY(field->text().isEmpty());
    QCOMPARE(m_form->TitleLabel->text(), QStringLiteral("Title:"));
    QVERIFY(m_form->PlayAction->isEnabled());
}

void TestMainWindow::exitCloses()
{
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    m_form->ExitAction->trigger();
    QVERIFY(!m_form->isVisible());
}

void TestMainWindow::optionsComesToFront()
{
    QVERIFY(!settingsForm->isVisible());
    m_form->show();
    m_form->OptionsAction->trigger();
    QVERIFY(settingsForm->isVisible());
    QVERIFY(!settingsForm->isModal());
    settingsForm->close();
    QVERIFY(!settingsForm->isVisible());
    // The tool bar's Options button reaches the same dialog.
    m_form->findChild<QToolButton*>(QStringLiteral("ToolButton5"))->click();
    QVERIFY(settingsForm->isVisible());
    m_form->OptionsAction->trigger();
    QCOMPARE(m_form->findChildren<TsettingsForm*>().size(), 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
