// A folder of real audio files listed into the real main window by the scan worker: rows,
// texts, order and status count, also when the scan is stopped or fails half-way.
#include "scan/cthread.h"
#include "services/errors.h"
#include "support/audiotypes.h"
#include "support/recorders.h"
#include "support/taglibraryloaded.h"
#include "support/temporaryregistry.h"
#include "tags/tagoperations.h"
#include "ui/filelist.h"
#include "ui/tmainform.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include <string_view>

#include <sys/time.h>

using namespace tagora;

namespace {

// Stands between the worker and the window; fails on the given call before the row is added.
struct FailingTarget : ScanTarget
{
    explicit FailingTarget(TMainForm* window, int failing) : form(window), failingCall(failing)
    {
        setScanTarget(this);
    }
    ~FailingTarget() { setScanTarget(form); }
    void addfile(const QString& fileName) override
    {
        if (++calls == failingCall)
            throw EInOutError(5);
        form->addfile(fileName);
    }
    TMainForm* form;
    int failingCall;
    int calls = 0;
};

QStringList column(const FileList* list, int index)
{
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row)
        texts << list->cellText(row, index);
    return texts;
}

void setModified(const QString& name, const QDate& day)
{
    timeval times[2];
    times[0].tv_sec = times[1].tv_sec = QDateTime(day, QTime(12, 0)).toSecsSinceEpoch();
    times[0].tv_usec = times[1].tv_usec = 0;
    QCOMPARE(::utimes(QFile::encodeName(name).constData(), times), 0);
}

} // namespace

class TestListing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void listsTheAudioFilesOfTheFolderSorted();
    void aLinkShowsTheDateOfItsFile();
    void errorInThirdOfFiveHandOffs();
    void stopWhileWorkerWaitsInHandOff();

private:
    // Copies of the fixtures, tagged, in a folder made current.
    void makeFolder(int copiesOfEachType);
    // Runs one scan into the window, bound to its onterminate.
    void scan(CThread& thread);

    std::unique_ptr<test::TemporaryRegistry> m_store;
    std::unique_ptr<test::RecordingMessageBoxes> m_boxes;
    std::unique_ptr<QTemporaryDir> m_folder;
    TMainForm* m_form = nullptr;
    QString m_previousDir;
};

void TestListing::initTestCase()
{
    m_store = std::make_unique<test::TemporaryRegistry>();
    QVERIFY(m_store->isValid());
    m_previousDir = QDir::currentPath();
}

void TestListing::cleanupTestCase()
{
    m_store.reset();
}

void TestListing::init()
{
    m_boxes = std::make_unique<test::RecordingMessageBoxes>();
    m_form = new TMainForm;
    test::loadTagLibraryBesideProgram();
}

void TestListing::cleanup()
{
    delete m_form;
    m_form = nullptr;
    QDir::setCurrent(m_previousDir);
    m_folder.reset();
    m_boxes.reset();
}

void TestListing::makeFolder(int copiesOfEachType)
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(m_folder->path()));
    int day = 1;
    for (int copy = 0; copy < copiesOfEachType; ++copy) {
        for (const char* type : test::kAudioTypes) {
            const QString ext = QString::fromLatin1(type);
            const QString name = QStringLiteral("%1 %2.%3").arg(ext.toUpper()).arg(copy).arg(ext);
            QVERIFY(QFile::copy(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.") + ext, name));
            QFile::setPermissions(name, QFile::ReadOwner | QFile::WriteOwner);
            audiotag tag;
            ReadTag(name, tag);
            tag.Title = QStringLiteral("Title of ") + name;
            tag.Artist = QStringLiteral("Artist ") + ext;
            QCOMPARE(WriteTag(name, tag), WriteTagResult::Saved);
            setModified(name, QDate(2020, 1, day++));
        }
    }
}

void TestListing::scan(CThread& thread)
{
    m_form->files->clear();
    m_form->files->setAutoSort(false);
    thread.OnTerminate = [this](TThread*) { m_form->onterminate(nullptr); };
    thread.Start();
}

void TestListing::listsTheAudioFilesOfTheFolderSorted()
{
    makeFolder(1);
    // Not listed: other types, an empty file, a sub-folder's file, a folder named like audio.
    QFile(QStringLiteral("notes.txt")).open(QIODevice::WriteOnly);
    QVERIFY(QFile::copy(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.mp3"),
                        QStringLiteral("copy.mp3.bak")));
    QFile(QStringLiteral("empty.mp3")).open(QIODevice::WriteOnly);
    QVERIFY(QDir().mkpath(QStringLiteral("sub/inner.mp3")));
    QVERIFY(QFile::copy(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.ogg"),
                        QStringLiteral("sub/deeper.ogg")));

    CThread thread;
    scan(thread);
    QTRY_VERIFY(thread.Finished()); // served by the event loop
    thread.WaitFor();

    FileList* files = m_form->files;
    // The start state: "File", Z to A.
    QCOMPARE(column(files, 0),
             QStringLiteral("WMA 0.wma|OGG 0.ogg|MP3 0.mp3|M4A 0.m4a|FLAC 0.flac|APE 0.ape")
                 .split(QLatin1Char('|')));
    for (int row = 0; row < files->rowCount(); ++row) {
        const auto text = [&](int column) { return files->cellText(row, column); };
        const QString name = text(0);
        const QString ext = name.section(QLatin1Char('.'), -1);
        QCOMPARE(text(1), QStringLiteral("Title of ") + name);
        QCOMPARE(text(2), QStringLiteral("Artist ") + ext);
        QCOMPARE(text(3), files->durationText(2));
        const auto type = std::find_if(std::begin(test::kAudioTypes), std::end(test::kAudioTypes),
                                       [&ext](const char* t) { return ext == QLatin1String(t); });
        const int day = 1 + int(type - std::begin(test::kAudioTypes));
        QCOMPARE(text(4), files->dateText(QDate(2020, 1, day)));
    }
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 6"));
    QVERIFY(files->autoSort());
    QVERIFY(m_boxes->shown.isEmpty());

    // The window's header handler sorts by the date, newest first.
    m_form->SortFlag = false;
    m_form->filesColumnClick(m_form, 4);
    QCOMPARE(column(files, 0).first(), QStringLiteral("FLAC 0.flac"));
    QCOMPARE(column(files, 0).last(), QStringLiteral("MP3 0.mp3"));
}

// The walk reads the date a row shows; through a link it must be the linked file's.
void TestListing::aLinkShowsTheDateOfItsFile()
{
    makeFolder(1);
    QVERIFY(QFile::link(QStringLiteral("MP3 0.mp3"), QStringLiteral("link.mp3")));
    const timeval linkTimes[2] = {{946728000, 0}, {946728000, 0}}; // 2000-01-01
    QCOMPARE(::lutimes("link.mp3", linkTimes), 0);

    CThread thread;
    scan(thread);
    QTRY_VERIFY(thread.Finished());
    thread.WaitFor();

    FileList* files = m_form->files;
    QCOMPARE(files->rowCount(), 7);
    const int link = int(column(files, 0).indexOf(QStringLiteral("link.mp3")));
    QVERIFY(link >= 0);
    const int mp3Day = 1 + int(std::find(std::begin(test::kAudioTypes), std::end(test::kAudioTypes),
                                         std::string_view("mp3")) -
                               std::begin(test::kAudioTypes));
    QCOMPARE(files->cellText(link, 4), files->dateText(QDate(2020, 1, mp3Day)));
    QCOMPARE(files->cellText(link, 1), QStringLiteral("Title of MP3 0.mp3"));
}

void TestListing::errorInThirdOfFiveHandOffs()
{
    makeFolder(1);
    QVERIFY(QFile::remove(QStringLiteral("APE 0.ape")));
    FailingTarget target(m_form, 3);
    CThread thread;
    scan(thread);
    thread.WaitFor();
    QCOMPARE(m_form->files->rowCount(), 2);
    QCOMPARE(m_boxes->texts(), QStringList{QStringLiteral("I/O error 5.")});
    QCOMPARE(m_boxes->shown.first().icon, MsgIcon::Error);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 2"));
    m_boxes->shown.clear();
}

void TestListing::stopWhileWorkerWaitsInHandOff()
{
    makeFolder(3);
    CThread thread;
    scan(thread);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!TThread::HandOffPending() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    thread.Terminate();
    thread.WaitFor();
    QCOMPARE(m_form->files->rowCount(), 1);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 1"));
}

QTEST_MAIN(TestListing)
#include "tst_listing.moc"
