// Saves of a large tag into 20 MB files, killed with SIGKILL at moments spread over the whole
// save: whatever moment the kill hits, the file is either exactly the old one or the new one
// with the same audio bytes; a hard-linked file, written in place, is so once the torn ones
// are restored from their backups. A save whose tag fits the old one's room is killed at each
// write and flush it makes, deterministically. Long: run alone with `ctest -L long`.
#include "bigfiles.h"
#include "safesave.h"
#include "tagwrapper.h"

#include "support/audiopayload.h"
#include "support/wrapperfields.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// In a child saving with killAtStep = n, the n-th write or flush of the save (the library's
// and this program's calls both land in the definitions below) is where it dies: a write after
// half of its bytes, a flush before it runs.
int killAtStep = 0;
int steps = 0;

bool dieHere()
{
    return ++steps == killAtStep;
}

} // namespace

extern "C" ssize_t pwrite(int fd, const void* data, size_t count, off_t at)
{
    if (dieHere()) {
        ::syscall(SYS_pwrite64, fd, data, count / 2, at);
        ::kill(::getpid(), SIGKILL);
    }
    return ::syscall(SYS_pwrite64, fd, data, count, at);
}

extern "C" int fsync(int fd)
{
    if (dieHere())
        ::kill(::getpid(), SIGKILL);
    return int(::syscall(SYS_fsync, fd));
}

namespace {

using namespace tagora::test;

constexpr qsizetype kFileSize = 20 * 1024 * 1024;
constexpr int kKills = 50;
constexpr int kLargeValue = 300 * 1000;

// The new tag with a 300 KB value.
Fields largeTag(const QString& type)
{
    QString large;
    large.reserve(kLargeValue);
    while (large.size() < kLargeValue)
        large += QStringLiteral("A rather long value, line %1 ü€\n").arg(large.size());
    return withLargeValue(unicodeFields(), type, large);
}

// A child process that saves f into path; it exits with 0 when the save reported success.
pid_t startSave(const QByteArray& path, const Fields& f)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int ok = 0;
        if (TagLib_File* file = taglib_file_newu(path.constData())) {
            setAll(file, f);
            ok = taglib_file_save_ex(file, 3);
            taglib_file_free(file);
        }
        ::_exit(ok ? 0 : 1);
    }
    return pid;
}

// A child that saves f into path and dies at the given write or flush of the save; when it
// lives, it exits with the number of writes and flushes the save made.
pid_t startSaveKilledAt(const QByteArray& path, const Fields& f, int step)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int made = 255;
        if (TagLib_File* file = taglib_file_newu(path.constData())) {
            setAll(file, f);
            killAtStep = step;
            steps = 0;
            if (taglib_file_save_ex(file, 3))
                made = steps;
            taglib_file_free(file);
        }
        ::_exit(made);
    }
    return pid;
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

ino_t inodeOf(const QString& path)
{
    struct stat st;
    return ::stat(native(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Runs a save to its end; its duration in nanoseconds, or -1 when it failed.
qint64 timedSave(const QString& path, const Fields& f)
{
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = startSave(native(path), f);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return timer.nsecsElapsed();
}

void sleepNanoseconds(qint64 ns)
{
    timespec t{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &t, &t) == EINTR) {
    }
}

} // namespace

class TestKillSave : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { taglib_set_strings_unicode(1); }

    void killDuringSave_data() { addTypeRows(); }

    // A file with a second name is written in place after a backup of its bytes; a kill
    // during that write leaves it torn until the next start of either program restores it.
    void killDuringSaveInPlace_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("mp3") << QStringLiteral("mp3");
        QTest::newRow("flac") << QStringLiteral("flac");
    }
    void killDuringSaveInPlace()
    {
        QFETCH(QString, type);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qputenv("XDG_STATE_HOME", native(dir.filePath(QStringLiteral("state"))));
        const QString path = dir.filePath(QStringLiteral("big.") + type);
        const QString link = dir.filePath(QStringLiteral("second name.") + type);
        const QByteArray original = enlarged(type, contents(sampleFile(type)), kFileSize);
        QVERIFY(writeFile(path, original));
        QVERIFY(::link(native(path).constData(), native(link).constData()) == 0);
        const std::optional<QByteArray> payload = audioPayload(type, original);
        const Fields wanted = largeTag(type);
        const qint64 span = timedSave(path, wanted);
        QVERIFY(span > 0);
        QCOMPARE(readAll(link), wanted);

        const QDir backups(dir.filePath(QStringLiteral("state/tagora/backups")));
        int torn = 0;
        for (int i = 0; i < kKills; ++i) {
            QVERIFY(writeFile(path, original)); // in place: both names keep one inode
            const pid_t pid = startSave(native(path), wanted);
            sleepNanoseconds(span * 5 / 4 * (i + 1) / (kKills + 1));
            ::kill(pid, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            torn += int(!backups.entryList(QDir::Files).isEmpty());
            tagwrapper::restoreTornFiles();
            QVERIFY(backups.entryList(QDir::Files).isEmpty());
            const QByteArray now = contents(path);
            if (now != original) {
                QCOMPARE(readAll(path), wanted);
                QCOMPARE(audioPayload(type, now), payload);
            }
            QCOMPARE(contents(link), now);
        }
        qInfo("%s in place: %d of %d kills left a backup to restore", qPrintable(type), torn,
              kKills);
        qunsetenv("XDG_STATE_HOME");
    }

    // Tags saved once have room to spare; the next save writes them over in place after a
    // rollback record. A kill at any write or flush of it (into the record or into the file)
    // leaves the old file, or the new one, once the next start has rolled the record back.
    void killDuringRegionWrite_data()
    {
        QTest::addColumn<QString>("type");
        for (const char* type : {"mp3", "flac", "m4a"})
            QTest::newRow(type) << QString::fromLatin1(type);
    }
    void killDuringRegionWrite()
    {
        QFETCH(QString, type);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qputenv("XDG_STATE_HOME", native(dir.filePath(QStringLiteral("state"))));
        const QString path = dir.filePath(QStringLiteral("song.") + type);
        QVERIFY(writeFile(path, contents(sampleFile(type))));
        QCOMPARE(exitCodeOf(startSave(native(path), unicodeFields())), 0);
        const QByteArray before = contents(path);
        Fields wanted = unicodeFields();
        wanted.title = QStringLiteral("Another title ✓");
        wanted.track = 4;

        const ino_t inode = inodeOf(path);
        const int saveSteps = exitCodeOf(startSaveKilledAt(native(path), wanted, 0));
        QVERIFY2(saveSteps > 0 && saveSteps < 255, qPrintable(QString::number(saveSteps)));
        QCOMPARE(inodeOf(path), inode); // written in place, not replaced
        QCOMPARE(readAll(path), wanted);
        const QByteArray after = contents(path);

        const QDir backups(dir.filePath(QStringLiteral("state/tagora/backups")));
        int recordsCut = 0;
        int writtenUnderRecord = 0;
        for (int step = 1; step <= saveSteps; ++step) {
            QVERIFY(writeFile(path, before));
            QCOMPARE(exitCodeOf(startSaveKilledAt(native(path), wanted, step)), -SIGKILL);
            const QStringList left = backups.entryList(QDir::Files);
            recordsCut += int(left.size() == 1 && left.front().endsWith(QLatin1String("-partial")));
            const bool recorded =
                left.size() == 1 && left.front().endsWith(QLatin1String("backup"));
            const bool written = recorded && contents(path) != before;
            writtenUnderRecord += int(written);
            tagwrapper::restoreTornFiles();
            QVERIFY(backups.entryList(QDir::Files).isEmpty());
            const QByteArray now = contents(path);
            QVERIFY2(now == before || (now == after && !recorded),
                     qPrintable(QString::number(step)));
            QCOMPARE(inodeOf(path), inode);
        }
        // Kills landed while the record was written and while the file was.
        QVERIFY(recordsCut > 0);
        QVERIFY(writtenUnderRecord > 0);
        qunsetenv("XDG_STATE_HOME");
    }

    void killDuringSave()
    {
        QFETCH(QString, type);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name = QStringLiteral("big.") + type;
        const QString path = dir.filePath(name);
        const QByteArray original = enlarged(type, contents(sampleFile(type)), kFileSize);
        QVERIFY(original.size() >= kFileSize);
        QVERIFY(writeFile(path, original));
        const std::optional<QByteArray> payload = audioPayload(type, original);
        QVERIFY(payload && payload->size() > kFileSize / 2);
        const Fields before = readAll(path);
        const Fields wanted = largeTag(type);
        QVERIFY(!(before == wanted));

        // Saves run to their end: they must succeed, and the longest of them gives the span
        // the kills are spread on.
        qint64 span = 0;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(writeFile(path, original));
            const qint64 duration = timedSave(path, wanted);
            QVERIFY(duration > 0);
            span = std::max(span, duration);
            QCOMPARE(readAll(path), wanted);
            QCOMPARE(audioPayload(type, contents(path)), payload);
        }

        const QRegularExpression copyName(QStringLiteral("^\\.%1\\.[A-Za-z0-9]{6}\\.tagora-tmp$")
                                              .arg(QRegularExpression::escape(name)));
        int untouched = 0;
        int replaced = 0;
        int copiesLeft = 0;
        QByteArray now = contents(path);
        for (int i = 0; i < kKills; ++i) {
            if (now != original)
                QVERIFY(writeFile(path, original));
            const pid_t pid = startSave(native(path), wanted);
            QVERIFY(pid > 0);
            // A quarter beyond the longest save seen, as the machine may be busier now.
            sleepNanoseconds(span * 5 / 4 * (i + 1) / (kKills + 1));
            ::kill(pid, SIGKILL);
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);

            now = contents(path);
            if (now == original) {
                ++untouched;
            } else {
                QCOMPARE(readAll(path), wanted);
                QCOMPARE(audioPayload(type, now), payload);
                ++replaced;
            }
            // A killed save may leave its hidden copy, which the next save in the folder
            // removes once it is old; nothing else may appear.
            const QStringList entries =
                QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
            for (const QString& entry : entries) {
                if (entry == name)
                    continue;
                QVERIFY2(copyName.match(entry).hasMatch(), qPrintable(entry));
                QVERIFY(QFile::remove(dir.filePath(entry)));
                ++copiesLeft;
            }
        }
        qInfo("%s: a whole save takes %lld ms; of %d kills, %d left the old file, %d the new "
              "one, %d a hidden copy",
              qPrintable(type), span / 1000000, kKills, untouched, replaced, copiesLeft);
        QCOMPARE(untouched + replaced, kKills);
    }
};

QTEST_GUILESS_MAIN(TestKillSave)
#include "tst_killsave.moc"
