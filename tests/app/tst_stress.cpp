// The working window under hard conditions, with real files, the real tag library and real
// scan workers: the listed folder vanishing under the scan, a large folder refreshed over and
// over, and file names that are not valid UTF-8.
#include "apptesting.h"
#include "services/nativepath.h"
#include "support/recorders.h"
#include "support/sampletags.h"
#include "ui/foldertree.h"
#include "ui/limitededit.h"

#include <QLabel>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <memory>

using namespace tagora;
using namespace tagora::test;

namespace {

// Every listed file costs a tag read: the last scan of 20,000 files takes about 1.5 s in the
// plain build and 11 to 15 s under AddressSanitizer, which is still fine for every build.
constexpr int kManyFiles = 20000;
constexpr int kRefreshes = 100;

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    return QByteArray(folder).append('/').append(name);
}

// Byte-exact file access, for names QFile cannot spell.
QByteArray nativeContents(const QByteArray& path)
{
    QByteArray bytes;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<int>(got));
    ::close(fd);
    return bytes;
}

// Every entry of a folder (but . and ..) with its contents, as readdir sees it.
std::map<QByteArray, QByteArray> folderSnapshot(const QByteArray& folder)
{
    std::map<QByteArray, QByteArray> entries;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                entries[name] = nativeContents(joined(folder, name));
        }
        ::closedir(dir);
    }
    return entries;
}

// The tag of a file, read from a copy under a plain name with the same extension.
audiotag tagOfFile(const QByteArray& path)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(
        QStringLiteral("copy") + QString::fromLatin1(path.mid(path.lastIndexOf('.')).toLower()));
    audiotag tag;
    if (writeFile(copy, nativeContents(path)))
        ReadTag(copy, tag);
    return tag;
}

// Names as the file system holds them: invalid UTF-8 of several kinds, each beside a valid
// name that looks the same or is what a lossy conversion would make of it.
struct StrangeName
{
    const char* row;
    QByteArray bytes;
    const char* type; // the fixture it is a copy of
};

const StrangeName kStrangeNames[] = {
    {"latin-1", QByteArrayLiteral("caf\xe9.mp3"), "mp3"},
    {"valid look-alike", QByteArrayLiteral("caf\xc3\xa9.mp3"), "mp3"},
    {"question mark look-alike", QByteArrayLiteral("caf?.mp3"), "mp3"},
    {"no valid byte", QByteArrayLiteral("\xff\xfe\xfd.ogg"), "ogg"},
    {"truncated sequence", QByteArrayLiteral("half \xc3.flac"), "flac"},
    {"complete sequence", QByteArrayLiteral("half \xc3\x83.flac"), "flac"},
    {"encoded surrogate", QByteArrayLiteral("surrogate \xed\xa0\x80.m4a"), "m4a"},
    {"overlong slash", QByteArrayLiteral("overlong \xc0\xaf.wma"), "wma"},
    {"replacement character", QByteArrayLiteral("overlong \xef\xbf\xbd.wma"), "wma"},
    {"upper case extension", QByteArrayLiteral("loud \xe9.APE"), "ape"},
};

QString titleOf(const QByteArray& name)
{
    return QStringLiteral("Title of ") + QString::fromLatin1(name.toHex());
}

} // namespace

class TestStress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void folderGoesAwayDuringTheScan_data();
    void folderGoesAwayDuringTheScan();
    void manyFilesRefreshedInARow();
    void strangeNamesAreListedAndRead();
    void strangeNamesAreSavedAndStripped_data();
    void strangeNamesAreSavedAndStripped();

private:
    void startIn(const QString& folder);
    void waitForScan(int timeout = 20000);
    bool waitForFirstRow();
    QByteArray makeStrangeFolder();

    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<RecordingMessageBoxes> m_boxes;
    TMainForm* m_form = nullptr;
    QString m_startDir;
    QByteArray m_strangeFolder;
};

void TestStress::init()
{
    m_startDir = QDir::currentPath();
    m_home = std::make_unique<PrivateHome>();
    m_boxes = std::make_unique<RecordingMessageBoxes>();
    Settings = config();
}

void TestStress::cleanup()
{
    delete m_form;
    m_form = nullptr;
    QDir::setCurrent(m_startDir);
    // QDir leaves out the names it cannot spell, so it could not remove their folder.
    if (!m_strangeFolder.isEmpty()) {
        for (const auto& entry : folderSnapshot(m_strangeFolder))
            ::unlink(joined(m_strangeFolder, entry.first).constData());
        m_strangeFolder.clear();
    }
    m_boxes.reset();
    m_home.reset();
}

void TestStress::startIn(const QString& folder)
{
    storeLastFolder(folder);
    m_form = new TMainForm;
    m_form->show();
}

void TestStress::waitForScan(int timeout)
{
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), timeout);
}

// Serves the scan's hand-offs as the event loop would, but only until the first row is
// there: an event loop round may serve files for a while, and the scan is to be caught early.
bool TestStress::waitForFirstRow()
{
    QElapsedTimer timer;
    timer.start();
    while (m_form->files->rowCount() == 0 && !timer.hasExpired(10000)) {
        if (TThread::HandOffPending())
            TThread::CheckSynchronize();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return m_form->files->rowCount() > 0;
}

void TestStress::folderGoesAwayDuringTheScan_data()
{
    QTest::addColumn<int>("after");
    QTest::newRow("after the first file") << 1;
    QTest::newRow("midway") << 30;
    QTest::newRow("before the last file") << 59;
}

void TestStress::folderGoesAwayDuringTheScan()
{
    QFETCH(int, after);
    makeAudioFolder(m_home->desktop());
    const QString doomed = m_home->path() + QStringLiteral("/Doomed");
    const QStringList names = makeAudioFolder(doomed, 10);
    startIn(doomed);
    bool removed = false;
    // Between two hand-offs, as a user's file manager would: every file, then the folder.
    ActingTarget remover(m_form, after, [&] {
        for (const QString& name : names)
            QFile::remove(doomed + QLatin1Char('/') + name);
        removed = QDir().rmdir(doomed);
    });
    waitForScan();
    QVERIFY(removed);
    const int listed = m_form->files->rowCount();
    QVERIFY(listed >= after);
    QVERIFY(listed <= names.size());
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: %1").arg(listed));

    // Selecting a row of a file that is gone shows empty fields and nothing else.
    m_form->files->setCurrentRow(0);
    QCOMPARE(m_form->TitleEdit->text(), QString());

    // A refresh of the vanished folder finds nothing; another folder lists as usual.
    m_form->RefreshAction->trigger();
    waitForScan();
    QCOMPARE(m_form->files->rowCount(), 0);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 0"));
    QVERIFY(m_form->ShellTreeView1->selectPath(m_home->desktop()));
    waitForScan();
    QCOMPARE(m_form->files->rowCount(), 6);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 6"));
    QCOMPARE(QDir::currentPath(), m_home->desktop());
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestStress::manyFilesRefreshedInARow()
{
    QElapsedTimer timer;
    timer.start();
    // Hard links to six tagged files: the scan only reads, and the names cost no space.
    const QString originals = m_home->path() + QStringLiteral("/Originals");
    const QStringList templates = makeAudioFolder(originals);
    const QString many = m_home->path() + QStringLiteral("/Many");
    QVERIFY(QDir().mkpath(many));
    for (int i = 0; i < kManyFiles; ++i) {
        const int type = i % 6;
        const QByteArray name = QByteArray(kAudioTypes[type]).toUpper() + ' ' +
                                QByteArray::number(i) + '.' + kAudioTypes[type];
        const QByteArray target = pathToNative(originals + QLatin1Char('/') + templates[type]);
        QVERIFY(::link(target.constData(), joined(pathToNative(many), name).constData()) == 0);
    }
    qDebug("%d files made in %lld ms", kManyFiles, timer.restart());

    startIn(many);
    int interrupted = 0;
    for (int round = 0; round < kRefreshes; ++round) {
        QVERIFY2(waitForFirstRow(), qPrintable(QStringLiteral("round %1").arg(round)));
        m_form->files->setCurrentRow(0);
        const QPersistentModelIndex row = m_form->files->currentIndex();
        QVERIFY(isSelected(m_form->files, row));
        const QString type = cell(row, FileList::FileColumn).section(QLatin1Char('.'), -1);
        QCOMPARE(m_form->TitleEdit->text(),
                 QStringLiteral("Title of %1 0.%2").arg(type.toUpper(), type));
        if (!scanEnded(m_form))
            ++interrupted;
        m_form->RefreshActionExecute(m_form);
        QCOMPARE(m_form->files->rowCount(), 0);
    }
    qDebug("%d refreshes in %lld ms", kRefreshes, timer.restart());
    QCOMPARE(interrupted, kRefreshes);
    // The last scan runs to its end with a row selected.
    QVERIFY(waitForFirstRow());
    m_form->files->setCurrentRow(0);
    const QPersistentModelIndex selected = m_form->files->currentIndex();
    const QString shownTitle = m_form->TitleEdit->text();
    waitForScan(300000);
    qDebug("the last scan in %lld ms", timer.restart());

    QStringList listed = column(m_form->files, FileList::FileColumn);
    QCOMPARE(listed.size(), kManyFiles);
    listed.removeDuplicates();
    QCOMPARE(listed.size(), kManyFiles);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: %1").arg(kManyFiles));
    QCOMPARE(m_form->files->selectionModel()->selectedRows(), QModelIndexList{selected});
    QCOMPARE(m_form->TitleEdit->text(), shownTitle);
    QVERIFY(m_boxes->shown.isEmpty());
}

// A folder of the strange names, each a copy of its fixture with a title of its own, plus a
// file that is no audio file. Returns the folder's path.
QByteArray TestStress::makeStrangeFolder()
{
    const QString folder = m_home->path() + QStringLiteral("/Strange");
    makeAudioFolder(folder);
    const QByteArray native = pathToNative(folder);
    m_strangeFolder = native;
    for (const StrangeName& strange : kStrangeNames) {
        const QString type = QLatin1String(strange.type);
        const QString plain = folder + QStringLiteral("/%1 0.%2").arg(type.toUpper(), type);
        const QString staged = folder + QStringLiteral("/staged.") + type;
        QFile::copy(plain, staged);
        audiotag tag = plainTag();
        tag.Title = titleOf(strange.bytes);
        if (WriteTag(staged, tag) != WriteTagResult::Saved)
            qWarning("cannot tag %s", qPrintable(staged));
        if (::rename(pathToNative(staged).constData(), joined(native, strange.bytes).constData()))
            qWarning("cannot name %s", strange.bytes.toHex().constData());
    }
    writeFile(folder + QStringLiteral("/notes.txt"), "not audio");
    ::rename(joined(native, "notes.txt").constData(), joined(native, "notes \xe9.txt").constData());
    return native;
}

void TestStress::strangeNamesAreListedAndRead()
{
    const QByteArray folder = makeStrangeFolder();
    startIn(pathFromNative(folder));
    waitForScan();

    QList<QByteArray> audioNames;
    for (const auto& entry : folderSnapshot(folder)) {
        if (CThread::IsAudioFileExt(
                QString::fromLatin1(entry.first.mid(entry.first.lastIndexOf('.')))))
            audioNames << entry.first;
    }
    QCOMPARE(audioNames.size(), 6 + int(std::size(kStrangeNames)));
    QCOMPARE(m_form->files->rowCount(), audioNames.size());

    // Every row names one file, byte for byte, and shows that file's tag.
    QList<QByteArray> rowNames;
    for (int i = 0; i < m_form->files->rowCount(); ++i) {
        const QPersistentModelIndex row = m_form->files->model()->index(i, FileList::FileColumn);
        const QByteArray name = pathToNative(cell(row, FileList::FileColumn));
        rowNames << name;
        m_form->files->setCurrentIndex(row);
        const audiotag stored = tagOfFile(joined(folder, name));
        QVERIFY(!stored.Title.isEmpty());
        QCOMPARE(m_form->TitleEdit->text(), stored.Title);
        QCOMPARE(cell(row, FileList::TitleColumn), stored.Title);
        QCOMPARE(pathToNative(m_form->SelectedFilePath()), joined(folder, name));
    }
    std::sort(rowNames.begin(), rowNames.end());
    QCOMPARE(rowNames, audioNames);
    for (const StrangeName& strange : kStrangeNames)
        QCOMPARE(tagOfFile(joined(folder, strange.bytes)).Title, titleOf(strange.bytes));
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestStress::strangeNamesAreSavedAndStripped_data()
{
    QTest::addColumn<QByteArray>("name");
    for (const StrangeName& strange : kStrangeNames)
        QTest::newRow(strange.row) << strange.bytes;
}

void TestStress::strangeNamesAreSavedAndStripped()
{
    QFETCH(QByteArray, name);
    const QByteArray folder = makeStrangeFolder();
    startIn(pathFromNative(folder));
    waitForScan();
    const QPersistentModelIndex row = rowNamed(m_form->files, pathFromNative(name));
    QVERIFY(row.isValid());
    m_form->files->setCurrentIndex(row);
    QCOMPARE(m_form->TitleEdit->text(), titleOf(name));

    // Only that file's bytes change; every name stays as it was.
    const auto checkOnlyChanged = [&](const std::map<QByteArray, QByteArray>& before) {
        const std::map<QByteArray, QByteArray> after = folderSnapshot(folder);
        QCOMPARE(after.size(), before.size());
        for (const auto& entry : before) {
            QVERIFY2(after.count(entry.first), entry.first.toHex().constData());
            if (entry.first == name)
                QVERIFY(after.at(entry.first) != entry.second);
            else
                QVERIFY2(after.at(entry.first) == entry.second, entry.first.toHex().constData());
        }
    };

    std::map<QByteArray, QByteArray> before = folderSnapshot(folder);
    audiotag typed = unicodeTag();
    typed.Track = QStringLiteral("12");
    typed.Year = QStringLiteral("2016");
    m_form->TagToEditors(typed);
    m_form->SaveTagAction->trigger();
    QVERIFY(m_boxes->shown.isEmpty());
    checkOnlyChanged(before);
    if (QTest::currentTestFailed())
        return;
    const audiotag saved = tagOfFile(joined(folder, name));
    QCOMPARE(saved.Title, typed.Title);
    QCOMPARE(saved.Artist, typed.Artist);
    QCOMPARE(saved.Comment, typed.Comment);
    QCOMPARE(cell(row, FileList::TitleColumn), typed.Title);
    QCOMPARE(pathToNative(cell(row, FileList::FileColumn)), name);

    before = folderSnapshot(folder);
    m_form->RemoveTagAction->trigger();
    QVERIFY(m_boxes->shown.isEmpty());
    checkOnlyChanged(before);
    if (QTest::currentTestFailed())
        return;
    const audiotag stripped = tagOfFile(joined(folder, name));
    QCOMPARE(stripped.Title, QString());
    QCOMPARE(stripped.Artist, QString());
    QCOMPARE(cell(row, FileList::TitleColumn), QString());
    QCOMPARE(m_form->TitleEdit->text(), QString());
}

QTEST_MAIN(TestStress)
#include "tst_stress.moc"
