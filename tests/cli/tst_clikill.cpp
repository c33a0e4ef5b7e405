// tagora-cli killed at moments spread over a batch of 200 files, many times: every file is
// left with its old tag or the new one, and 'undo --all' brings every one back, also the file
// whose save finished just before the kill reached its journal record. A stop signal instead
// finishes the file in hand and leaves no temporary copy. Saves committed in groups are
// byte-compared after kills. Long: run with `ctest -L long`.
#include "support/fixtures.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <ctime>
#include <sys/wait.h>

using namespace tagora;
using namespace tagora::test;

namespace {

constexpr int kFiles = 200;

void sleepNanoseconds(qint64 ns)
{
    timespec t{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, 0, &t, &t) == EINTR) {
    }
}

} // namespace

class CliKillTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_state;
    QTemporaryDir m_dir;
    QStringList m_files;

    void start(QProcess& process, const QStringList& arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), m_state.path());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_dir.path());
        process.start(QStringLiteral(TAGORA_CLI_PATH), arguments);
    }

    int run(const QStringList& arguments)
    {
        QProcess process;
        start(process, arguments);
        return process.waitForFinished(120000) ? process.exitCode() : -1;
    }

    // Each file's title: "" before the batch, "New" after it, nothing else.
    int countNew()
    {
        int changed = 0;
        for (const QString& path : std::as_const(m_files)) {
            audiotag tag;
            if (!ReadTag(path, tag))
                return -1;
            const bool isNew = tag.Title == QLatin1String("New");
            if (!isNew && !tag.Title.isEmpty())
                return -1;
            if (isNew != (tag.Album == QLatin1String("Batch")))
                return -1;
            changed += int(isNew);
        }
        return changed;
    }

    // The hidden copies of saves in the folder; a SIGKILL may leave some, which the next walk
    // of the folder removes.
    QStringList copies() const
    {
        return QDir(m_dir.path())
            .entryList({QStringLiteral(".*.tagora-tmp")}, QDir::Files | QDir::Hidden);
    }

    QList<QByteArray> contents() const
    {
        QList<QByteArray> all;
        for (const QString& path : m_files) {
            QFile file(path);
            all.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
        }
        return all;
    }

    // Writes `bytes` over the files, the way another program would, and starts a new journal,
    // as the old one's changes no longer apply.
    bool startAfresh(const QList<QByteArray>& bytes) const
    {
        if (!QDir(m_state.filePath(QStringLiteral("tagora"))).removeRecursively())
            return false;
        for (qsizetype i = 0; i < m_files.size(); ++i) {
            QFile file(m_files[i]);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                file.write(bytes[i]) != bytes[i].size())
                return false;
        }
        return true;
    }

    // How long the program takes to start and end doing nothing.
    qint64 timedStartup()
    {
        QElapsedTimer timer;
        timer.start();
        run({QStringLiteral("--version")});
        return timer.nsecsElapsed();
    }

    // Runs the batch to its end once and gives its duration.
    qint64 timedBatch()
    {
        QElapsedTimer timer;
        timer.start();
        if (run({QStringLiteral("set"), QStringLiteral("title=New"), QStringLiteral("album=Batch"),
                 QStringLiteral(".")}) != 0)
            return -1;
        return timer.nsecsElapsed();
    }

private Q_SLOTS:
    void initTestCase()
    {
        LoadTagLibrary();
        QVERIFY(TagLibraryLoaded());
        for (int i = 0; i < kFiles; ++i) {
            const QString type =
                QString::fromLatin1(kAudioTypes[size_t(i) % std::size(kAudioTypes)]);
            const QString path =
                m_dir.filePath(QStringLiteral("%1.%2").arg(i, 3, 10, QChar(u'0')).arg(type));
            QVERIFY(QFile::copy(sampleFile(type), path));
            QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
            m_files.append(path);
        }
    }
    void cleanupTestCase() { UnloadTagLibrary(); }

    void killedBatchesAreWholeAndUndone_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("rounds");
        QTest::newRow("SIGKILL") << int(SIGKILL) << 10;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 4;
        QTest::newRow("SIGINT") << int(SIGINT) << 3;
    }
    void killedBatchesAreWholeAndUndone()
    {
        QFETCH(int, signal);
        QFETCH(int, rounds);
        const qint64 span = timedBatch();
        QVERIFY(span > 0);
        QCOMPARE(countNew(), kFiles);
        QCOMPARE(run({QStringLiteral("undo"), QStringLiteral("--all")}), 0);
        QCOMPARE(countNew(), 0);
        int partly = 0;
        for (int round = 0; round < rounds; ++round) {
            const QStringList copiesBefore = copies();
            QProcess process;
            start(process, {QStringLiteral("set"), QStringLiteral("title=New"),
                            QStringLiteral("album=Batch"), QStringLiteral(".")});
            QVERIFY(process.waitForStarted());
            // A stop signal before main() has set its handler ends the program the system's
            // way, before it touches anything; batches saved in groups are short enough for
            // that to matter.
            const qint64 startup = signal == SIGKILL ? 0 : timedStartup();
            sleepNanoseconds(
                startup + QRandomGenerator::global()->bounded(std::max<qint64>(1, span - startup)));
            ::kill(pid_t(process.processId()), signal);
            QVERIFY(process.waitForFinished(120000));
            const int changed = countNew();
            QVERIFY2(changed >= 0, "a file holds neither its old tag nor the new one");
            partly += int(changed > 0 && changed < kFiles);
            if (signal != SIGKILL) {
                QVERIFY(process.exitStatus() == QProcess::NormalExit);
                QVERIFY(process.exitCode() == 128 + signal || process.exitCode() == 0);
                for (const QString& copy : copies())
                    QVERIFY2(copiesBefore.contains(copy), "a stop signal left a copy");
            }
            QCOMPARE(run({QStringLiteral("undo"), QStringLiteral("--all")}), 0);
            QCOMPARE(countNew(), 0);
        }
        qInfo("%d of %d stopped batches had changed some files but not all", partly, rounds);
    }

    // SIGKILL at random moments of a batch whose saves are committed in groups, half of them
    // late, where the commit runs: after the next run (which puts back what a kill left torn
    // and removes copies, however young) every file holds, byte for byte, its old bytes or the
    // new ones, no copy is left, and undo brings every old tag back.
    void killedGroupCommitsLeaveWholeFilesAndNoCopies()
    {
        QList<QByteArray> oldBytes;
        for (const QString& path : std::as_const(m_files)) {
            QFile file(sampleFile(QFileInfo(path).suffix()));
            QVERIFY(file.open(QIODevice::ReadOnly));
            oldBytes.append(file.readAll());
        }
        QVERIFY(startAfresh(oldBytes));
        const qint64 span = timedBatch();
        QVERIFY(span > 0);
        const QList<QByteArray> newBytes = contents();
        constexpr int kRounds = 6;
        int partly = 0;
        for (int round = 0; round < kRounds; ++round) {
            QVERIFY(startAfresh(oldBytes));
            QProcess process;
            start(process, {QStringLiteral("set"), QStringLiteral("title=New"),
                            QStringLiteral("album=Batch"), QStringLiteral(".")});
            QVERIFY(process.waitForStarted());
            const double late = round % 2 ? 0.7 : 0.0;
            sleepNanoseconds(
                qint64(span * (late + (1 - late) * QRandomGenerator::global()->generateDouble())));
            ::kill(pid_t(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(120000));
            QCOMPARE(run({QStringLiteral("ls"), QStringLiteral("-q"), QStringLiteral(".")}), 0);
            QCOMPARE(copies(), QStringList());
            const QList<QByteArray> now = contents();
            int changed = 0;
            for (qsizetype i = 0; i < now.size(); ++i) {
                QVERIFY2(now[i] == oldBytes[i] || now[i] == newBytes[i],
                         qPrintable(m_files[i] + QStringLiteral(" is neither old nor new")));
                changed += int(now[i] == newBytes[i]);
            }
            partly += int(changed > 0 && changed < kFiles);
            QCOMPARE(run({QStringLiteral("undo"), QStringLiteral("--all")}), 0);
            QCOMPARE(countNew(), 0);
        }
        qInfo("%d of %d killed batches had changed some files but not all", partly, kRounds);
    }
};

QTEST_GUILESS_MAIN(CliKillTest)
#include "tst_clikill.moc"
