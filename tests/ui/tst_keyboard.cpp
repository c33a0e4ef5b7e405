// The keys of the working window on real files: each command's key with the focus in a field
// and in the list, the fields' own text copy and paste, and walking the list from a field.
#include "app/apptesting.h"
#include "support/recorders.h"
#include "ui/limitededit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>

#include <memory>

using namespace tagora;
using namespace tagora::test;

class TestKeyboard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void commandKeys_data();
    void commandKeys();
    void fieldTextCopyAndPasteStayTheFields();
    void altDownAndUpWalkTheList_data();
    void altDownAndUpWalkTheList();
    void tagAFolderFromTheKeyboard();

private:
    QWidget* focusOn(const QString& where);
    QString pathOf(const QString& name) const;

    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<RecordingMessageBoxes> m_boxes;
    std::unique_ptr<RecordingShell> m_shell;
    TMainForm* m_form = nullptr;
    QString m_startDir;
};

void TestKeyboard::init()
{
    m_startDir = QDir::currentPath();
    m_home = std::make_unique<PrivateHome>();
    m_boxes = std::make_unique<RecordingMessageBoxes>();
    m_shell = std::make_unique<RecordingShell>();
    makeAudioFolder(m_home->desktop());
    m_form = new TMainForm;
    m_form->show();
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
    QCOMPARE(m_form->files->rowCount(), 6);
    m_form->files->setCurrentRow(0);
}

void TestKeyboard::cleanup()
{
    delete m_form;
    m_form = nullptr;
    QDir::setCurrent(m_startDir);
    m_shell.reset();
    m_boxes.reset();
    m_home.reset();
}

QWidget* TestKeyboard::focusOn(const QString& where)
{
    QWidget* target =
        where == QLatin1String("list") ? static_cast<QWidget*>(m_form->files) : m_form->ArtistEdit;
    target->setFocus();
    return target;
}

QString TestKeyboard::pathOf(const QString& name) const
{
    return m_home->desktop() + QLatin1Char('/') + name;
}

void TestKeyboard::commandKeys_data()
{
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("focus");
    const std::pair<const char*, const char*> keys[] = {
        {"F5", "RefreshAction"},
        {"Ctrl+S", "SaveTagAction"},
        {"Ctrl+Shift+C", "CopyTagAction"},
        {"Ctrl+Shift+V", "PasteTagAction"},
        {"Ctrl+Shift+Del", "RemoveTagAction"},
        {"Ctrl+Return", "PlayAction"},
        {"F1", "HelpAction"},
        {"Ctrl+Q", "ExitAction"},
    };
    for (const char* focus : {"field", "list"}) {
        for (const auto& [key, action] : keys)
            QTest::addRow("%s in %s", key, focus)
                << QKeySequence(QLatin1String(key)) << QString::fromLatin1(action)
                << QString::fromLatin1(focus);
    }
}

// The key runs its command once and nothing else, and the focused control does not take the
// key for itself.
void TestKeyboard::commandKeys()
{
    QFETCH(QKeySequence, key);
    QFETCH(QString, action);
    QFETCH(QString, focus);
    const QList<QAction*> commands = m_form->ActionManager1->findChildren<QAction*>();
    // Pasted fields are the copied ones, so every key but Remove Tag leaves them as shown.
    m_form->CopyTagAction->trigger();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QAction* command : commands)
        spies.push_back(std::make_unique<QSignalSpy>(command, &QAction::triggered));
    const QString artistBefore = m_form->ArtistEdit->text();
    const QString firstFile = m_form->files->cellText(0, FileList::FileColumn);

    QWidget* focused = focusOn(focus);
    QTest::keySequence(focused, key);

    for (std::size_t i = 0; i < spies.size(); ++i)
        QCOMPARE(spies[i]->count(), commands[int(i)]->objectName() == action ? 1 : 0);
    if (action == QLatin1String("RefreshAction"))
        QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
    if (action == QLatin1String("PlayAction")) {
        QCOMPARE(m_shell->opened.size(), 1);
        QCOMPARE(m_shell->opened.first().fileName(), firstFile);
    }
    if (action == QLatin1String("ExitAction"))
        QVERIFY(!m_form->isVisible());
    if (action == QLatin1String("HelpAction")) {
        QCOMPARE(m_shell->opened.size(), 1);
        QVERIFY(m_shell->opened.first().toString().endsWith(QLatin1String("/tagora.html")));
    }
    if (action != QLatin1String("RemoveTagAction") && action != QLatin1String("RefreshAction"))
        QCOMPARE(m_form->ArtistEdit->text(), artistBefore);
    QVERIFY2(m_boxes->shown.isEmpty(), qPrintable(m_boxes->texts().join(QLatin1Char('|'))));
}

void TestKeyboard::fieldTextCopyAndPasteStayTheFields()
{
    QSignalSpy copied(m_form->CopyTagAction, &QAction::triggered);
    QSignalSpy pasted(m_form->PasteTagAction, &QAction::triggered);
    m_form->TitleEdit->setFocus();
    m_form->TitleEdit->selectAll();
    QTest::keySequence(m_form->TitleEdit, QKeySequence(QStringLiteral("Ctrl+C")));
    const QString title = m_form->TitleEdit->text();
    QVERIFY(title.startsWith(QLatin1String("Title of ")));
    QCOMPARE(QApplication::clipboard()->text(), title);
    m_form->ArtistEdit->setFocus();
    m_form->ArtistEdit->clear();
    QTest::keySequence(m_form->ArtistEdit, QKeySequence(QStringLiteral("Ctrl+V")));
    QCOMPARE(m_form->ArtistEdit->text(), title);
    QCOMPARE(copied.count(), 0);
    QCOMPARE(pasted.count(), 0);
}

void TestKeyboard::altDownAndUpWalkTheList_data()
{
    QTest::addColumn<QString>("focus");
    QTest::newRow("field") << QStringLiteral("field");
    QTest::newRow("list") << QStringLiteral("list");
}

// The next and previous row are selected and shown, the focus stays; the ends of the list
// stop the walk.
void TestKeyboard::altDownAndUpWalkTheList()
{
    QFETCH(QString, focus);
    QWidget* focused = focusOn(focus);
    const FileList* list = m_form->files;
    auto selectedRow = [list] { return list->currentRow(); };
    auto shownTitle = [list](int row) -> QString {
        return QStringLiteral("Title of ") + list->cellText(row, FileList::FileColumn);
    };

    QTest::keyClick(focused, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(selectedRow(), 1);
    QCOMPARE(m_form->TitleEdit->text(), shownTitle(1));
    QCOMPARE(QApplication::focusWidget(), focused);

    QTest::keyClick(focused, Qt::Key_Up, Qt::AltModifier);
    QTest::keyClick(focused, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(selectedRow(), 0);
    QCOMPARE(m_form->TitleEdit->text(), shownTitle(0));

    for (int i = 0; i < 7; ++i)
        QTest::keyClick(focused, Qt::Key_Down, Qt::AltModifier);
    QCOMPARE(selectedRow(), 5);
    QCOMPARE(m_form->TitleEdit->text(), shownTitle(5));
    QCOMPARE(list->selectedRow(), 5);
    QCOMPARE(QApplication::focusWidget(), focused);
}

// A user types into a field, saves, moves to the next file, pastes and saves again, never
// leaving the field.
void TestKeyboard::tagAFolderFromTheKeyboard()
{
    const FileList* list = m_form->files;
    const QString first = list->cellText(0, FileList::FileColumn);
    const QString second = list->cellText(1, FileList::FileColumn);
    const QString third = list->cellText(2, FileList::FileColumn);
    LimitedEdit* album = m_form->AlbumEdit;
    album->setFocus();
    album->selectAll();
    QTest::keyClicks(album, QStringLiteral("Keyboard Album"));
    QTest::keySequence(album, QKeySequence(QStringLiteral("Ctrl+S")));
    QTest::keySequence(album, QKeySequence(QStringLiteral("Ctrl+Shift+C")));
    QTest::keyClick(album, Qt::Key_Down, Qt::AltModifier);
    QTest::keySequence(album, QKeySequence(QStringLiteral("Ctrl+Shift+V")));
    QTest::keySequence(album, QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(QApplication::focusWidget(), album);

    for (const QString& name : {first, second}) {
        audiotag stored;
        ReadTag(pathOf(name), stored);
        QCOMPARE(stored.Album, QStringLiteral("Keyboard Album"));
    }
    // The paste carried the first file's title over as well.
    audiotag pasted;
    ReadTag(pathOf(second), pasted);
    QCOMPARE(pasted.Title, QStringLiteral("Title of ") + first);
    audiotag untouched;
    ReadTag(pathOf(third), untouched);
    QCOMPARE(untouched.Title, QStringLiteral("Title of ") + third);
    QVERIFY(untouched.Album != QStringLiteral("Keyboard Album"));
    QVERIFY(m_boxes->shown.isEmpty());
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
