// The working window from start to end with real files, the real tag library and real scan
// workers: the first show, folder changes, refreshes, closing, and what is kept between
// two starts.
#include "apptesting.h"
#include "scan/cthread.h"
#include "services/nativepath.h"
#include "services/registry.h"
#include "support/recorders.h"
#include "tags/taglibrary.h"
#include "ui/foldertree.h"
#include "ui/limitededit.h"

#include <QHeaderView>
#include <QLabel>

#include <memory>
#include <sys/stat.h>

using namespace tagora;
using namespace tagora::test;

namespace {

// Stands between the scan and the window and notes whether the tag library was loaded at
// every file handed over.
struct WatchingTarget : ScanTarget
{
    explicit WatchingTarget(TMainForm* window) : form(window) { setScanTarget(this); }
    ~WatchingTarget() { setScanTarget(nullptr); }
    void addfile(const QString& fileName) override
    {
        ++files;
        if (!TagLibraryLoaded())
            ++withoutLibrary;
        form->addfile(fileName);
    }
    TMainForm* form;
    int files = 0;
    int withoutLibrary = 0;
};

// The real store, noting what the program looked like whenever the settings were written.
struct WatchingRegistry : Registry
{
    WatchingRegistry() { setRegistry(this); }
    ~WatchingRegistry() override { setRegistry(nullptr); }
    std::unique_ptr<RegistryKey> openKey(const QString& path, bool canCreate) override
    {
        if (canCreate) {
            ++writes;
            libraryLoadedAtWrite = TagLibraryLoaded();
            scanRunningAtWrite = form && form->ScanThread;
        }
        return store.openKey(path, canCreate);
    }
    IniRegistry store;
    TMainForm* form = nullptr;
    int writes = 0;
    bool libraryLoadedAtWrite = true;
    bool scanRunningAtWrite = true;
};

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void firstStartListsTheDesktop_data();
    void firstStartListsTheDesktop();
    void savedFolderIsRestored();
    void deletedSavedFolderIsIgnored();
    void clickingAFolderListsIt();
    void virtualFolderListsNothing();
    void folderThatCannotBeEntered();
    void folderNamedInBytesThatAreNotUtf8Reopens();
    void refreshWhileScanning();
    void closingWhileScanning();
    void typingWhileAScanAddsRows();

private:
    TMainForm* start();
    void restart();
    void waitForScan();

    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<RecordingMessageBoxes> m_boxes;
    TMainForm* m_form = nullptr;
    QString m_startDir;
};

void TestLifecycle::init()
{
    m_startDir = QDir::currentPath();
    m_home = std::make_unique<PrivateHome>();
    m_boxes = std::make_unique<RecordingMessageBoxes>();
    Settings = config();
}

void TestLifecycle::cleanup()
{
    delete m_form;
    m_form = nullptr;
    QDir::setCurrent(m_startDir);
    m_boxes.reset();
    m_home.reset();
}

TMainForm* TestLifecycle::start()
{
    m_form = new TMainForm;
    m_form->show();
    return m_form;
}

void TestLifecycle::restart()
{
    delete m_form;
    m_form = nullptr;
    start();
}

void TestLifecycle::waitForScan()
{
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
}

void TestLifecycle::firstStartListsTheDesktop_data()
{
    QTest::addColumn<bool>("withDesktop");
    QTest::newRow("desktop folder") << true;
    QTest::newRow("no desktop folder, home") << false;
}

void TestLifecycle::firstStartListsTheDesktop()
{
    QFETCH(bool, withDesktop);
    const QString folder = withDesktop ? m_home->desktop() : m_home->path();
    const QStringList names = makeAudioFolder(folder);

    start();
    QVERIFY(TagLibraryLoaded());
    QCOMPARE(m_form->ShellTreeView1->folderPath(m_form->ShellTreeView1->selectedFolder()), folder);
    waitForScan();
    QCOMPARE(QDir::currentPath(), folder);
    // "File" from Z to A, the down arrow on its header.
    QCOMPARE(column(m_form->files, 0),
             QStringLiteral("WMA 0.wma|OGG 0.ogg|MP3 0.mp3|M4A 0.m4a|FLAC 0.flac|APE 0.ape")
                 .split(QLatin1Char('|')));
    QCOMPARE(m_form->SortColumn, 0);
    QCOMPARE(m_form->SortFlag, true);
    const QHeaderView* header = m_form->files->header();
    QCOMPARE(header->sortIndicatorSection(), 0);
    QVERIFY(m_form->files->drawsDownArrow(header->sortIndicatorOrder()));
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 6"));
    QVERIFY(!m_form->SaveTagAction->isEnabled());
    QVERIFY(m_boxes->shown.isEmpty());

    // Nothing selected in the tree: the saved folder stays as it was.
    delete m_form;
    m_form = nullptr;
    QVERIFY(!TagLibraryLoaded());
    QCOMPARE(storedSettings().LastFolder, QString());
}

void TestLifecycle::savedFolderIsRestored()
{
    makeAudioFolder(m_home->desktop());
    const QString saved = m_home->path() + QStringLiteral("/Music/Live");
    const QStringList names = makeAudioFolder(saved, 2);
    storeLastFolder(saved);

    start();
    // The show's own refresh replaced the scan that selecting the folder started.
    QCOMPARE(m_form->ShellTreeView1->folderPath(m_form->ShellTreeView1->selectedFolder()), saved);
    QCOMPARE(Settings.LastFolder, saved);
    waitForScan();
    QStringList listed = column(m_form->files, 0);
    QCOMPARE(listed.size(), names.size());
    listed.sort();
    QStringList expected = names;
    expected.sort();
    QCOMPARE(listed, expected);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 12"));

    restart();
    waitForScan();
    QCOMPARE(QDir::currentPath(), saved);
    QCOMPARE(m_form->files->rowCount(), 12);
}

void TestLifecycle::deletedSavedFolderIsIgnored()
{
    makeAudioFolder(m_home->desktop());
    const QString gone = m_home->path() + QStringLiteral("/Gone");
    storeLastFolder(gone);

    start();
    waitForScan();
    QCOMPARE(m_form->ShellTreeView1->folderPath(m_form->ShellTreeView1->selectedFolder()),
             m_home->desktop());
    QCOMPARE(m_form->files->rowCount(), 6);
    QCOMPARE(Settings.LastFolder, gone);
    delete m_form;
    m_form = nullptr;
    QCOMPARE(storedSettings().LastFolder, gone);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestLifecycle::clickingAFolderListsIt()
{
    const QString music = m_home->path() + QStringLiteral("/Music");
    makeAudioFolder(music);
    start();
    waitForScan();
    QVERIFY(QTest::qWaitForWindowExposed(m_form));
    FolderTree* tree = m_form->ShellTreeView1;
    const QModelIndex node = tree->folderModel()->indexForPath(music);
    QVERIFY(node.isValid());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(node).center());
    QCOMPARE(Settings.LastFolder, music);
    waitForScan();
    QCOMPARE(QDir::currentPath(), music);
    QCOMPARE(m_form->files->rowCount(), 6);
}

void TestLifecycle::virtualFolderListsNothing()
{
    makeAudioFolder(m_home->desktop());
    const QString music = m_home->path() + QStringLiteral("/Music");
    makeAudioFolder(music, 2);

    start();
    waitForScan();
    QVERIFY(m_form->ShellTreeView1->selectPath(music));
    waitForScan();
    QCOMPARE(m_form->files->rowCount(), 12);

    const QModelIndex computer = m_form->ShellTreeView1->folderModel()->computerIndex();
    m_form->ShellTreeView1->selectFolder(computer);
    waitForScan();
    // Not the files of the folder that was current before.
    QCOMPARE(m_form->files->rowCount(), 0);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 0"));
    QCOMPARE(Settings.LastFolder, FolderModel::kComputerPath);

    // The next start does not find it as a folder and lists the desktop.
    restart();
    waitForScan();
    QCOMPARE(storedSettings().LastFolder, FolderModel::kComputerPath);
    QCOMPARE(QDir::currentPath(), m_home->desktop());
    QCOMPARE(m_form->files->rowCount(), 6);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestLifecycle::folderThatCannotBeEntered()
{
    makeAudioFolder(m_home->desktop());
    const QString locked = m_home->path() + QStringLiteral("/Locked");
    makeAudioFolder(locked);
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    start();
    waitForScan();
    QCOMPARE(m_form->files->rowCount(), 6);

    {
        // Root enters any folder; an ordinary user is refused one of root's with mode 0700.
        // The non-root case makes the folder unreadable to its owner as well.
        ActAsOrdinaryUser ordinaryUser;
        if (::geteuid() != 0)
            QVERIFY(QFile::setPermissions(locked, QFile::Permissions()));
        QVERIFY(m_form->ShellTreeView1->selectPath(locked));
    }
    QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("I/O error 13.")});
    QCOMPARE(m_boxes->shown.first().icon, MsgIcon::Error);
    QCOMPARE(m_form->files->rowCount(), 0);
    QCOMPARE(m_form->StatusPanel0->text(), QString());
    QVERIFY(!m_form->ScanThread);
    QCOMPARE(QDir::currentPath(), m_home->desktop());
    // The failed change left the saved folder alone.
    QCOMPARE(Settings.LastFolder, QString());

    // The next refresh works as usual.
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_form->RefreshAction->trigger();
    waitForScan();
    QCOMPARE(QDir::currentPath(), locked);
    QCOMPARE(m_form->files->rowCount(), 6);
    QCOMPARE(m_boxes->shown.size(), 1);
}

// The saved folder comes back byte for byte, and is listed again at the next start.
void TestLifecycle::folderNamedInBytesThatAreNotUtf8Reopens()
{
    makeAudioFolder(m_home->desktop());
    const QByteArray folder = QFile::encodeName(m_home->path()) + "/caf\xe9 \xff";
    QVERIFY(::mkdir(folder.constData(), 0755) == 0);
    const QString staged = m_home->path() + QStringLiteral("/x.mp3");
    QVERIFY(QFile::copy(sampleFile(QStringLiteral("mp3")), staged));
    QVERIFY(::rename(QFile::encodeName(staged).constData(),
                     QByteArray(folder + "/x.mp3").constData()) == 0);
    const QString path = pathFromNative(folder);

    start();
    waitForScan();
    QVERIFY(m_form->ShellTreeView1->selectPath(path));
    waitForScan();
    QCOMPARE(Settings.LastFolder, path);
    restart();
    waitForScan();
    QCOMPARE(pathToNative(Settings.LastFolder), folder);
    QCOMPARE(
        pathToNative(m_form->ShellTreeView1->folderPath(m_form->ShellTreeView1->selectedFolder())),
        folder);
    QCOMPARE(m_form->files->rowCount(), 1);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestLifecycle::refreshWhileScanning()
{
    const QString big = m_home->path() + QStringLiteral("/Big");
    makeAudioFolder(big, 10);
    storeLastFolder(big);
    start();
    // The worker is stuck in its first hand-off: nobody has served the event loop yet.
    waitForHandOff();
    QCOMPARE(m_form->files->rowCount(), 0);

    m_form->RefreshAction->trigger();
    // The old worker finished its hand-off and reported its count while it was waited for;
    // then the list was emptied for the new scan, which has not delivered anything yet.
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 1"));
    QCOMPARE(m_form->files->rowCount(), 0);
    QVERIFY(m_form->ScanThread);
    QVERIFY(!m_form->ScanThread->Finished());

    waitForScan();
    QStringList listed = column(m_form->files, 0);
    QCOMPARE(listed.size(), 60);
    listed.removeDuplicates();
    QCOMPARE(listed.size(), 60);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 60"));
}

void TestLifecycle::closingWhileScanning()
{
    const QString big = m_home->path() + QStringLiteral("/Big");
    makeAudioFolder(big, 10);
    storeLastFolder(big);
    WatchingRegistry registry;
    start();
    registry.form = m_form;
    registry.writes = 0;
    WatchingTarget target(m_form);
    waitForHandOff();
    QCOMPARE(registry.writes, 0);

    m_form->close();
    delete m_form;
    m_form = nullptr;
    registry.form = nullptr;
    // The file waiting in its hand-off was still read with the library; then the scan
    // stopped, the library went, and the settings were written last.
    QCOMPARE(target.files, 1);
    QCOMPARE(target.withoutLibrary, 0);
    QVERIFY(!TagLibraryLoaded());
    QCOMPARE(registry.writes, 1);
    QVERIFY(!registry.libraryLoadedAtWrite);
    QVERIFY(!registry.scanRunningAtWrite);
    QCOMPARE(storedSettings().LastFolder, big);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestLifecycle::typingWhileAScanAddsRows()
{
    makeAudioFolder(m_home->desktop());
    const QString big = m_home->path() + QStringLiteral("/Big");
    makeAudioFolder(big, 10);
    start();
    waitForScan();
    QPersistentModelIndex row;
    QString shownTitle;
    bool enabled = false;
    // The user picks the first row and types while the worker goes on.
    ActingTarget user(m_form, 3, [&] {
        m_form->files->setCurrentRow(0);
        row = m_form->files->currentIndex();
        shownTitle = m_form->TitleEdit->text();
        enabled = m_form->SaveTagAction->isEnabled();
        m_form->TitleEdit->clear();
        QTest::keyClicks(m_form->TitleEdit, QStringLiteral("typed"));
        m_form->CommentEdit->setText(QStringLiteral("a comment"));
    });
    QVERIFY(m_form->ShellTreeView1->selectPath(big));
    const int rowsWhenTyping = 3;
    waitForScan();
    QVERIFY(row.isValid());
    QCOMPARE(shownTitle, QStringLiteral("Title of ") + cell(row, FileList::FileColumn));
    QVERIFY(enabled);
    QVERIFY(m_form->files->rowCount() > rowsWhenTyping);
    QCOMPARE(m_form->files->rowCount(), 60);
    QVERIFY(isSelected(m_form->files, row));
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("typed"));
    QCOMPARE(m_form->CommentEdit->text(), QStringLiteral("a comment"));
}

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
