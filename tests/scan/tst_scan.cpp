// The folder scan worker: which directory entries it hands over, and the contract of its
// blocking hand-off to the GUI thread (stop, errors, early Terminate).
#include "scan/cthread.h"
#include "scan/tagextent.h"
#include "services/errors.h"
#include "services/nativepath.h"
#include "support/bytes.h"
#include "support/recorders.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

using namespace tagora;

namespace {

// Records what the worker hands over; `onAdd` may throw to play a failing addfile.
struct RecordingTarget : ScanTarget
{
    RecordingTarget() { setScanTarget(this); }
    ~RecordingTarget() { setScanTarget(nullptr); }
    void addfile(const QString& fileName) override
    {
        onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
        if (onAdd)
            onAdd(calls);
        ++calls;
        names << fileName;
    }
    QStringList names;
    int calls = 0;
    bool onGuiThread = true;
    std::function<void(int)> onAdd;
};

// A scratch folder made current for the lifetime of the object.
class CurrentFolder
{
public:
    CurrentFolder() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~CurrentFolder()
    {
        // QTemporaryDir cannot remove names that are not valid UTF-8.
        for (const QByteArray& name : m_created)
            ::unlink(name.constData());
        QDir::setCurrent(m_previous);
    }

    // Raw bytes on purpose: QFile would mangle names that are not valid UTF-8.
    void file(const QByteArray& name, int size = 16)
    {
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        const QByteArray content(size, 'x');
        QCOMPARE(::write(fd, content.constData(), content.size()), ssize_t(size));
        ::close(fd);
        m_created << name;
    }
    void files(int count)
    {
        for (int i = 0; i < count; ++i)
            file(QByteArray("song") + QByteArray::number(i) + ".mp3");
    }

private:
    QString m_previous;
    QTemporaryDir m_dir;
    QList<QByteArray> m_created;
};

// A worker whose end is recorded.
struct Scan
{
    Scan()
    {
        thread.OnTerminate = [this](TThread* sender) {
            ++terminated;
            terminatedOnGuiThread = QThread::currentThread() == qApp->thread();
            sawSender = sender == &thread;
        };
    }
    CThread thread;
    int terminated = 0;
    bool terminatedOnGuiThread = false;
    bool sawSender = false;
};

// The names of a folder's entries as the directory search delivers them.
QStringList searchOrder(const QString& folder)
{
    QStringList names;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr)
        names << pathFromNative(QByteArray(entry->d_name));
    if (dir)
        ::closedir(dir);
    return names;
}

// Threads of this process, and its open files that lie in `folder`.
int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task"))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

int openFilesIn(const QString& folder)
{
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd :
         fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget().startsWith(folder))
            ++count;
    }
    return count;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isAudioFileExt_data();
    void isAudioFileExt();
    void keepsOnlyNonEmptyAudioFilesOfTheFolder();
    void eventLoopServesHandOffs();
    void stopWhileWorkerWaitsInHandOff();
    void errorInThirdOfFiveHandOffs_data();
    void errorInThirdOfFiveHandOffs();
    void terminateBeforeStart();
    void destroyingARunningScanStopsIt();
    void errorEscapingTheWorkIsShownBeforeOnTerminate();
    void sliceEndsWhileTheWorkerKeepsHandingOver();
    void filesReadAheadArriveInTheSearchOrder();
    void cancelledScanLeavesNoReadAheadRunning();
    void coldFilesAreReadAhead_data();
    void coldFilesAreReadAhead();
    void tagBytesBeyondTheHead_data();
    void tagBytesBeyondTheHead();
    void workMeanwhileWaitsForItsHandOff_data();
    void workMeanwhileWaitsForItsHandOff();
    void workerSleepsThroughHandOffs_data();
    void workerSleepsThroughHandOffs();
    void guiThreadGetsItsCoresBack_data();
    void guiThreadGetsItsCoresBack();
};

void TestScan::isAudioFileExt_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("accepted");
    const char* accepted[] = {".mp3", ".ogg", ".wma", ".ape", ".m4a", ".flac", ".MP3", ".Flac"};
    for (const char* e : accepted)
        QTest::newRow(e) << QString::fromLatin1(e) << true;
    QTest::newRow("mp4") << QStringLiteral(".mp4") << false;
    QTest::newRow("trailing blank") << QStringLiteral(".mp3 ") << false;
    QTest::newRow("no dot") << QStringLiteral("mp3") << false;
    QTest::newRow("empty") << QString() << false;
    // Only A to Z fold: a dotless capital I (U+0130) is not an i.
    QTest::newRow("non-ASCII capital") << QString::fromUtf8(".\xc4\xb0") << false;
    QTest::newRow("wav") << QStringLiteral(".wav") << false;
}

void TestScan::isAudioFileExt()
{
    QFETCH(QString, extension);
    QFETCH(bool, accepted);
    QCOMPARE(CThread::IsAudioFileExt(extension), accepted);
}

void TestScan::keepsOnlyNonEmptyAudioFilesOfTheFolder()
{
    CurrentFolder folder;
    for (const char* name : {"One.MP3", "Two.Flac", "Three.m4a", "Four.mp4", "Five.wav",
                             "Six.mp3.bak", "Seven", ".x.mp3", "\xff\xfe.ogg"})
        folder.file(name);
    folder.file("empty.mp3", 0);
    QVERIFY(QDir().mkdir(QStringLiteral("album.mp3")));
    QVERIFY(QDir().mkdir(QStringLiteral("sub")));
    folder.file("sub/Eight.mp3");
    QVERIFY(::symlink("One.MP3", "link.ogg") == 0);
    QVERIFY(::symlink("missing.mp3", "dangling.ogg") == 0);
    QVERIFY(::symlink("album.mp3", "folderlink.mp3") == 0);
    QVERIFY(::symlink("empty.mp3", "emptylink.mp3") == 0);

    RecordingTarget target;
    Scan scan;
    scan.thread.Start();
    scan.thread.WaitFor();

    const QStringList expected = {QStringLiteral(".x.mp3"),    QStringLiteral("One.MP3"),
                                  QStringLiteral("Three.m4a"), QStringLiteral("Two.Flac"),
                                  QStringLiteral("link.ogg"),  pathFromNative("\xff\xfe.ogg")};
    QCOMPARE(sorted(target.names), sorted(expected));
    QVERIFY(target.onGuiThread);
    QCOMPARE(scan.terminated, 1);
    QVERIFY(scan.terminatedOnGuiThread);
    QVERIFY(scan.sawSender);
}

void TestScan::eventLoopServesHandOffs()
{
    CurrentFolder folder;
    folder.files(3);
    RecordingTarget target;
    Scan scan;
    scan.thread.Start();
    QTRY_COMPARE(scan.terminated, 1);
    QCOMPARE(target.calls, 3);
    QVERIFY(target.onGuiThread);
    QVERIFY(scan.terminatedOnGuiThread);
    scan.thread.WaitFor();
    QVERIFY(scan.thread.Finished());
}

void TestScan::stopWhileWorkerWaitsInHandOff()
{
    CurrentFolder folder;
    folder.files(3);
    RecordingTarget target;
    Scan scan;
    scan.thread.Start();
    // No event processing here, so the worker stays blocked in its first hand-off.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!TThread::HandOffPending() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    QVERIFY(TThread::HandOffPending());

    scan.thread.Terminate();
    scan.thread.WaitFor();
    QCOMPARE(target.calls, 1); // the waiting hand-off completes, then the loop ends
    QCOMPARE(scan.terminated, 1);
    QVERIFY(scan.terminatedOnGuiThread);
    QVERIFY(!TThread::HandOffPending());
}

void TestScan::errorInThirdOfFiveHandOffs_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("program error") << 0 << QStringList{QStringLiteral("Disk on fire.")};
    QTest::newRow("silent abort") << 1 << QStringList();
    QTest::newRow("standard exception") << 2 << QStringList{QStringLiteral("bad things.")};
}

void TestScan::errorInThirdOfFiveHandOffs()
{
    QFETCH(int, kind);
    QFETCH(QStringList, shown);
    CurrentFolder folder;
    folder.files(5);
    test::RecordingMessageBoxes boxes;
    RecordingTarget target;
    target.onAdd = [kind](int call) {
        if (call != 2)
            return;
        if (kind == 0)
            throw Error(QStringLiteral("Disk on fire"));
        if (kind == 1)
            throw EAbort(QStringLiteral("quietly"));
        throw std::runtime_error("bad things");
    };
    Scan scan;
    scan.thread.Start();
    scan.thread.WaitFor();

    QCOMPARE(target.names.size(), 2);
    QCOMPARE(target.calls, 2);
    QCOMPARE(boxes.texts(), shown);
    for (const test::ShownMessage& message : boxes.shown)
        QCOMPARE(message.icon, MsgIcon::Error);
    QCOMPARE(scan.terminated, 1);
    QVERIFY(!scan.thread.PendingError);
}

void TestScan::terminateBeforeStart()
{
    CurrentFolder folder;
    folder.files(2);
    RecordingTarget target;
    Scan scan;
    scan.thread.Terminate();
    scan.thread.Start();
    scan.thread.WaitFor();
    QCOMPARE(target.calls, 0);
    QCOMPARE(scan.terminated, 1);
    QVERIFY(scan.terminatedOnGuiThread);
}

void TestScan::destroyingARunningScanStopsIt()
{
    CurrentFolder folder;
    folder.files(50);
    RecordingTarget target;
    int terminated = 0;
    {
        CThread thread;
        thread.OnTerminate = [&](TThread*) { ++terminated; };
        thread.Start();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!TThread::HandOffPending() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QCOMPARE(terminated, 1);
    QCOMPARE(target.calls, 1);
}

namespace {

// A worker whose work fails outside any hand-off.
class FailingWork : public TThread
{
    void Execute() override { throw std::runtime_error("disk gone"); }
};

} // namespace

void TestScan::errorEscapingTheWorkIsShownBeforeOnTerminate()
{
    test::RecordingMessageBoxes boxes;
    FailingWork thread;
    int shownBeforeTerminate = -1;
    thread.OnTerminate = [&](TThread*) { shownBeforeTerminate = int(boxes.shown.size()); };
    thread.Start();
    thread.WaitFor();
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("disk gone.")});
    QCOMPARE(shownBeforeTerminate, 1);
}

void TestScan::sliceEndsWhileTheWorkerKeepsHandingOver()
{
    CurrentFolder folder;
    folder.files(1500);
    RecordingTarget target;
    // Each row takes a while, as a tag read does: the worker always has the next file ready.
    target.onAdd = [](int) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
        while (std::chrono::steady_clock::now() < end) {
        }
    };
    Scan scan;
    scan.thread.Start();
    // Without the event loop, which would serve the hand-offs itself. On a busy machine the
    // worker may miss a slice or two; slices are served until one has met it again.
    const auto slice = std::chrono::milliseconds(20);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (target.calls <= 1 && std::chrono::steady_clock::now() < deadline) {
        if (!TThread::HandOffPending()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const auto start = std::chrono::steady_clock::now();
        TThread::CheckSynchronize(slice);
        const auto served = std::chrono::steady_clock::now() - start;
        // One file beyond the slice, with room for a busy machine (all files take 300 ms).
        QVERIFY2(served < std::chrono::milliseconds(150),
                 qPrintable(QStringLiteral("%1 ms").arg(served / std::chrono::milliseconds(1))));
    }
    QVERIFY(target.calls > 1);
    QVERIFY(target.calls < 1500);
    // The event loop takes over what is left.
    QTRY_COMPARE_WITH_TIMEOUT(scan.terminated, 1, 30000);
    QCOMPARE(target.calls, 1500);
    QVERIFY(target.onGuiThread);
    scan.thread.WaitFor();
}

void TestScan::filesReadAheadArriveInTheSearchOrder()
{
    CurrentFolder folder;
    folder.files(100);
    folder.file("notes.txt");
    RecordingTarget target;
    Scan scan;
    scan.thread.Start();
    scan.thread.WaitFor();
    QStringList expected = searchOrder(QDir::currentPath());
    expected.removeIf([](const QString& name) { return !name.endsWith(QLatin1String(".mp3")); });
    QCOMPARE(target.names, expected);
}

void TestScan::cancelledScanLeavesNoReadAheadRunning()
{
    CurrentFolder folder;
    folder.files(200);
    const QString here = QDir::currentPath();
    const int threadsBefore = threadCount();
    RecordingTarget target;
    Scan scan;
    int openDuringHandOff = 0;
    target.onAdd = [&](int) {
        openDuringHandOff = openFilesIn(here);
        scan.thread.Terminate();
    };
    scan.thread.Start();
    scan.thread.WaitFor();
    QCOMPARE(target.calls, 1);
    QCOMPARE(scan.terminated, 1);
    QVERIFY(openDuringHandOff >= 1); // the directory search, at least
    QCOMPARE(openFilesIn(here), 0);
    QCOMPARE(threadCount(), threadsBefore);
}

namespace {

// Whether the file's first page is in the page cache. Asked without reading, which would
// start the kernel's own read-ahead.
bool headCached(const QByteArray& name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    void* mapped = fd >= 0 ? ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    ::close(fd);
    if (mapped == MAP_FAILED)
        return false;
    unsigned char resident = 0;
    const bool cached = ::mincore(mapped, 1, &resident) == 0 && (resident & 1);
    ::munmap(mapped, 1);
    return cached;
}

// The kernel may keep a page it was asked to drop (one still on another core's list), so
// the request is repeated until the page has gone.
bool evict(const QByteArray& name)
{
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    ::fdatasync(fd);
    for (int attempt = 0; attempt < 50 && headCached(name); ++attempt) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::close(fd);
    return !headCached(name);
}

} // namespace

void TestScan::coldFilesAreReadAhead_data()
{
    // One character per file in the search's order: 'w' cached, '.' not.
    QTest::addColumn<QByteArray>("cache");
    QTest::addColumn<int>("mayMiss"); // cold files that may go without a request
    QTest::newRow("a cold folder") << QByteArray(80, '.') << 0;
    QTest::newRow("listed before, in part") << QByteArray(5, 'w') + QByteArray(75, '.') << 0;
    QTest::newRow("every other file cached") << QByteArray("w.").repeated(40) << 0;
    QTest::newRow("one file in ten cold") << QByteArray("wwwwwwwww.").repeated(8) << 0;
    // After a long cached run only some files are looked at, until one is found cold.
    QTest::newRow("cold after a long cached run")
        << QByteArray(100, 'w') + QByteArray(60, '.') << 16;
}

void TestScan::coldFilesAreReadAhead()
{
    QFETCH(QByteArray, cache);
    QFETCH(int, mayMiss);
    CurrentFolder folder;
    for (int i = 0; i < cache.size(); ++i)
        folder.file("song" + QByteArray::number(i) + ".mp3", 8192);
    const QStringList order = searchOrder(QDir::currentPath()).filter(QStringLiteral(".mp3"));
    QCOMPARE(order.size(), cache.size());
    QList<QByteArray> cold;
    for (int i = 0; i < order.size(); ++i) {
        const QByteArray name = QFile::encodeName(order[i]);
        if (!evict(name))
            QSKIP("this file system keeps every file in memory");
        QFile file(order[i]);
        if (cache[i] == 'w')
            QVERIFY(file.open(QIODevice::ReadOnly) && !file.readAll().isEmpty());
        else
            cold << name;
    }
    RecordingTarget target;
    Scan scan;
    scan.thread.Start();
    scan.thread.WaitFor();
    QCOMPARE(target.names.size(), order.size());
    // The requests are answered in the background, and the kernel may drop a few of them.
    const auto cachedOfTheCold = [&] {
        return std::count_if(cold.begin(), cold.end(), headCached);
    };
    QTRY_VERIFY2(cachedOfTheCold() >= (cold.size() - mayMiss) * 9 / 10,
                 qPrintable(QString::number(cachedOfTheCold())));
}

namespace {

using test::bigEndian32;
using test::littleEndian32;

constexpr off_t kHead = 128 * 1024;
constexpr off_t kTail = 16 * 1024;

QByteArray id3v2(int bodySize)
{
    QByteArray header("ID3\x03\x00\x00", 6);
    for (int shift = 21; shift >= 0; shift -= 7)
        header += char((bodySize >> shift) & 0x7f);
    return header + QByteArray(bodySize, '\0');
}

QByteArray flacBlock(int type, int size, bool last)
{
    return bigEndian32(quint32(last ? 0x80 | type : type) << 24 | quint32(size)) +
           QByteArray(size, '\0');
}

QByteArray mp4Atom(const char* type, int size)
{
    return bigEndian32(quint32(size)) + QByteArray(type, 4) + QByteArray(size - 8, '\0');
}

// An Ogg page holding `size` bytes of one packet, ending it when `ends`.
QByteArray oggPage(int size, bool ends)
{
    QByteArray segments(size / 255, char(255));
    if (ends)
        segments += char(size % 255);
    QByteArray page("OggS", 4);
    page += QByteArray(22, '\0') + char(segments.size()) + segments;
    return page + QByteArray(size, '\0');
}

QByteArray apeFooter(quint32 tagSize, bool withHeader)
{
    return QByteArray("APETAGEX") + littleEndian32(2000) + littleEndian32(tagSize) +
           littleEndian32(1) + littleEndian32(withHeader ? 0x80000000u : 0) + QByteArray(8, '\0');
}

} // namespace

void TestScan::tagBytesBeyondTheHead_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("cachedBytes");      // at the start of the file; the end is all cached
    QTest::addColumn<QList<qint64>>("ranges"); // from, to, from, to...
    const int big = 300 * 1024;
    const QByteArray audio(2 * 1024 * 1024, '\x55');
    const qint64 end = 300 * 1024 + 10;

    QTest::newRow("small ID3v2 tag") << id3v2(4000) + audio << int(kHead) << QList<qint64>{};
    QTest::newRow("ID3v2 tag with a cover")
        << id3v2(big) + audio << int(kHead) << QList<qint64>{kHead, end + 4096};
    QTest::newRow("FLAC picture block")
        << QByteArray("fLaC") + flacBlock(0, 34, false) + flacBlock(6, big, true) + audio
        << int(kHead) << QList<qint64>{kHead, 4 + 38 + 4 + big};
    QTest::newRow("FLAC blocks past what is cached")
        << QByteArray("fLaC") + flacBlock(1, int(kHead), false) + flacBlock(6, big, true) + audio
        << int(kHead) << QList<qint64>{kHead, 4 + 4 + kHead + 256 * 1024};
    QTest::newRow("MP4 moov first")
        << mp4Atom("ftyp", 24) + mp4Atom("moov", big) + mp4Atom("mdat", audio.size()) << int(kHead)
        << QList<qint64>{kHead, 24 + big};
    const int mdat = audio.size();
    // Its header lies beyond what is cached: a guess at the size of a moov with a cover.
    QTest::newRow("MP4 moov after the audio")
        << mp4Atom("ftyp", 24) + mp4Atom("mdat", mdat) + mp4Atom("moov", big) << int(kHead)
        << QList<qint64>{24 + mdat, 24 + mdat + 256 * 1024};
    const QByteArray oggHeaders = oggPage(30, true) + oggPage(255 * 235, false) +
                                  oggPage(255 * 235, false) + oggPage(60000, true) +
                                  oggPage(3000, true);
    QTest::newRow("Ogg comment over many pages")
        << oggHeaders + audio << int(oggHeaders.size()) << QList<qint64>{kHead, oggHeaders.size()};
    const qint64 unseenPage = oggHeaders.size() - (27 + 12 + 3000);
    QTest::newRow("Ogg comment going on past what is cached")
        << oggHeaders + audio << int(kHead) << QList<qint64>{kHead, unseenPage + 256 * 1024};
    QTest::newRow("APE tag with a cover before ID3v1")
        << audio + QByteArray(32, '\0') + QByteArray(big, '\0') +
               apeFooter(quint32(big + 32), true) + QByteArray("TAG") + QByteArray(125, '\0')
        << int(kHead) << QList<qint64>{audio.size(), audio.size() + 32 + big + 32 + 128 - kTail};
    QTest::newRow("header not yet cached") << id3v2(big) + audio << 0 << QList<qint64>{};
    QTest::newRow("ID3v2 size past the end of the file")
        << id3v2(100) + QByteArray(200 * 1024, '\0') << int(kHead) << QList<qint64>{};
    QTest::newRow("MP4 atom claiming more than the file")
        << mp4Atom("ftyp", 24) + bigEndian32(0x7fffffff) + QByteArray("moov") + audio << int(kHead)
        << QList<qint64>{};
}

void TestScan::tagBytesBeyondTheHead()
{
    QFETCH(QByteArray, file);
    QFETCH(int, cachedBytes);
    QFETCH(QList<qint64>, ranges);
    const off_t size = off_t(file.size());
    const CachedRead cached = [&](off_t offset, void* into, std::size_t count) {
        const bool inMemory = offset + off_t(count) <= cachedBytes || offset >= size - kTail;
        if (inMemory)
            std::memcpy(into, file.constData() + offset, count);
        return inMemory;
    };
    QList<qint64> got;
    for (const ByteRange& range : tagBytesBeyond(cached, size, kHead, kTail)) {
        QVERIFY(range.from >= kHead && range.to <= size - kTail && range.from < range.to);
        got << qint64(range.from) << qint64(range.to);
    }
    QCOMPARE(got, ranges);
}

namespace {

// One hand-off with work of the worker's own beside it; either side may fail.
class WorkMeanwhile : public TThread
{
public:
    bool methodThrows = false;
    bool meanwhileThrows = false;
    std::atomic<bool> methodRan{false};
    bool methodDoneWhenCallReturned = false;

protected:
    void Execute() override
    {
        try {
            Synchronize(
                [this] {
                    // Long enough that the worker's own work ends first.
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    methodRan = true;
                    if (methodThrows)
                        throw std::runtime_error("row failed");
                },
                [this] {
                    if (meanwhileThrows)
                        throw std::runtime_error("read-ahead failed");
                });
        } catch (...) {
            methodDoneWhenCallReturned = methodRan;
            throw;
        }
        methodDoneWhenCallReturned = methodRan;
    }
};

} // namespace

void TestScan::workMeanwhileWaitsForItsHandOff_data()
{
    QTest::addColumn<bool>("methodThrows");
    QTest::addColumn<bool>("meanwhileThrows");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("both succeed") << false << false << QStringList();
    QTest::newRow("work meanwhile fails")
        << false << true << QStringList{QStringLiteral("read-ahead failed.")};
    QTest::newRow("hand-off fails") << true << false << QStringList{QStringLiteral("row failed.")};
    QTest::newRow("both fail: the hand-off's error")
        << true << true << QStringList{QStringLiteral("row failed.")};
}

void TestScan::workMeanwhileWaitsForItsHandOff()
{
    QFETCH(bool, methodThrows);
    QFETCH(bool, meanwhileThrows);
    QFETCH(QStringList, shown);
    test::RecordingMessageBoxes boxes;
    WorkMeanwhile thread;
    thread.methodThrows = methodThrows;
    thread.meanwhileThrows = meanwhileThrows;
    thread.Start();
    thread.WaitFor();
    QVERIFY(thread.methodDoneWhenCallReturned);
    QCOMPARE(boxes.texts(), shown);
}

namespace {

double threadCpuMilliseconds()
{
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return used.tv_sec * 1e3 + used.tv_nsec / 1e6;
}

// Hand-offs that keep the GUI thread busy for a while each: a tag read, or far longer (a slow
// disk, a message box).
class BusyHandOffs : public TThread
{
public:
    BusyHandOffs(int count, std::chrono::microseconds each) : m_count(count), m_each(each) {}
    double workerCpuMilliseconds = -1;

protected:
    void Execute() override
    {
        const double before = threadCpuMilliseconds();
        for (int i = 0; i < m_count; ++i) {
            Synchronize([this] {
                const auto end = std::chrono::steady_clock::now() + m_each;
                while (std::chrono::steady_clock::now() < end) {
                }
            });
        }
        workerCpuMilliseconds = threadCpuMilliseconds() - before;
    }

private:
    int m_count;
    std::chrono::microseconds m_each;
};

} // namespace

void TestScan::workerSleepsThroughHandOffs_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("microseconds");
    QTest::addColumn<int>("slack"); // the worker may use a slack-th of the busy time
    // A wake-up costs the worker tens of microseconds under ThreadSanitizer.
    QTest::newRow("as long as a tag read") << 400 << 100 << 2;
    QTest::newRow("as long as a slow disk") << 60 << 1000 << 4;
}

// Spinning through the hand-offs would cost the worker the GUI thread's busy time (40 and
// 60 ms); sleeping costs it a wake-up each.
void TestScan::workerSleepsThroughHandOffs()
{
    QFETCH(int, count);
    QFETCH(int, microseconds);
    QFETCH(int, slack);
    BusyHandOffs thread(count, std::chrono::microseconds(microseconds));
    thread.Start();
    thread.WaitFor();
    const double busy = count * microseconds / 1000.0;
    QVERIFY2(thread.workerCpuMilliseconds >= 0 && thread.workerCpuMilliseconds < busy / slack,
             qPrintable(QString::number(thread.workerCpuMilliseconds)));
}

namespace {

QByteArray guiThreadCores()
{
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (::pthread_getaffinity_np(::pthread_self(), sizeof cores, &cores) != 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(&cores), sizeof cores);
}

} // namespace

void TestScan::guiThreadGetsItsCoresBack_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<bool>("failing");
    QTest::newRow("one scan") << 1 << false;
    QTest::newRow("two at once") << 2 << false;
    QTest::newRow("a scan whose work throws") << 1 << true;
}

// The workers share the GUI thread's core while they run; a GUI thread left pinned would keep
// the program on one core for good.
void TestScan::guiThreadGetsItsCoresBack()
{
    QFETCH(int, workers);
    QFETCH(bool, failing);
    if (std::thread::hardware_concurrency() < 2)
        QSKIP("one core: nothing to pin");
    test::RecordingMessageBoxes boxes;
    CurrentFolder folder;
    folder.files(20);
    RecordingTarget target;
    const QByteArray before = guiThreadCores();
    bool pinnedMeanwhile = false;
    target.onAdd = [&](int) { pinnedMeanwhile = pinnedMeanwhile || guiThreadCores() != before; };
    std::vector<std::unique_ptr<Scan>> scans;
    for (int i = 0; i < workers; ++i) {
        scans.push_back(std::make_unique<Scan>());
        if (failing)
            scans.back()->thread.OnTerminate = [](TThread*) { throw std::runtime_error("x"); };
        scans.back()->thread.Start();
    }
    for (auto& scan : scans)
        scan->thread.WaitFor();
    QVERIFY(pinnedMeanwhile);
    QCOMPARE(guiThreadCores(), before);
}

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
