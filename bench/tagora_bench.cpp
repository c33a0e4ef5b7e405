// tagora-bench: how fast a folder is listed through the program's real path (scan worker,
// hand-offs, addfile through libtagwrapper.so, rows, the final sort) compared with a bare
// TagLib loop over the same files, how long the GUI thread is kept from its event loop
// meanwhile, and how much memory the process needs at the largest size.
//
// Every size is measured twice: first with busy threads of the bench's own on every core
// (a loaded machine), then without them. Run without arguments for 2,000, 20,000 and
// 100,000 files, or give the sizes to measure (for a quick check or for profiling).
// A cold folder follows (10,000 files unless `--cold N` says otherwise, 0 for none): before
// each run of the listing and of the bare loop every file is dropped from the page cache, as
// after a reboot or on a disk just plugged in. `--cold-folder DIR` measures the audio files
// of an existing folder cold instead of generated ones (the folder is left as it was).
// The last lines are machine-readable and hold the figures without load:
//   ratio 2000 X.XX     listing time over bare-loop time at 2,000 files
//   ratio 20000 Y.YY    the same at 20,000 files
//   ratio 100000 Z.ZZ   the same at 100,000 files
//   cpu_ratio N X.XX    the listing's CPU time (both threads) over the bare loop's, per size
//   cold_ratio X.XX     listing time over bare-loop time, cold
//   cold_cpu_ratio X.XX the same for CPU time
//   stall_ms N          the longest the GUI thread went without an event-loop pass while a
//                       folder was listed, from clearing the last listing's rows up to the
//                       final sort
//   peak_mib M          the process's peak resident memory
#include "bareread.h"
#include "scan/cthread.h"
#include "services/registry.h"
#include "tagora/audiotypes.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"
#include "ui/filelist.h"
#include "ui/tmainform.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

using namespace tagora;

namespace {

constexpr int kVariantsPerType = 40;

struct Template
{
    QByteArray extension;
    QByteArray bytes;
};

// Tagged copies of the fixtures, several per type so titles and artists differ.
std::vector<Template> makeTemplates(const QString& scratch)
{
    std::vector<Template> templates;
    for (int variant = 0; variant < kVariantsPerType; ++variant) {
        // The fixtures are of the window's types.
        for (const char* type : kWindowAudioTypes) {
            const QString extension = QString::fromLatin1(type);
            const QString path = scratch + QStringLiteral("/template.") + extension;
            QFile::remove(path);
            if (!QFile::copy(QStringLiteral(TAGORA_FIXTURES_DIR "/sample.") + extension, path))
                qFatal("cannot copy the %s fixture", type);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
            {
                TagLib::FileRef file(QFile::encodeName(path).constData());
                if (file.isNull() || !file.tag())
                    qFatal("TagLib cannot open the %s fixture", type);
                const QString title =
                    QStringLiteral("Song number %1 in %2").arg(variant).arg(extension);
                const QString artist = QStringLiteral("Artist %1").arg(variant * 7 % 13);
                file.tag()->setTitle(TagLib::String(title.toStdString(), TagLib::String::UTF8));
                file.tag()->setArtist(TagLib::String(artist.toStdString(), TagLib::String::UTF8));
                file.tag()->setAlbum("Benchmark");
                file.tag()->setTrack(variant + 1);
                file.save();
            }
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            templates.push_back({QByteArray(type), f.readAll()});
        }
    }
    return templates;
}

// `count` files in a new folder, in no particular name order, modified on different days.
std::vector<QByteArray> makeFolder(const QString& folder, int count,
                                   const std::vector<Template>& templates)
{
    std::vector<QByteArray> names;
    const time_t base = 1262304000; // 2010-01-01
    for (int i = 0; i < count; ++i) {
        const Template& t = templates[i % templates.size()];
        const unsigned scrambled = (unsigned(i) * 2654435761u) % 1000003u;
        const QByteArray name = "Track " + QByteArray::number(scrambled) + " of " +
                                QByteArray::number(i) + "." + t.extension;
        const QByteArray path = QFile::encodeName(folder) + "/" + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, t.bytes.constData(), t.bytes.size()) != t.bytes.size())
            qFatal("cannot write %s", path.constData());
        ::close(fd);
        timeval times[2];
        times[0].tv_sec = times[1].tv_sec = base + time_t(scrambled % 5000) * 86400;
        times[0].tv_usec = times[1].tv_usec = 0;
        ::utimes(path.constData(), times);
        names.push_back(name);
    }
    return names;
}

double cpuSeconds();

// Watches the GUI thread's event loop: a timer due every millisecond notes the longest gap
// between two of its runs, which is the longest the loop was kept from a pass.
class StallWatch
{
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { note(); });
        m_clock.start();
        m_timer.start();
    }
    // Ends the watch; the time since the last pass counts too.
    double longestMilliseconds()
    {
        note();
        m_timer.stop();
        return m_longest / 1e6;
    }

private:
    void note()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

struct Listing
{
    double seconds;
    double stallMilliseconds;
};

// The program's path: the list cleared, then a scan worker feeding the main window until its
// onterminate has run (which includes the one sort at the end). The stall is watched until
// onterminate starts.
Listing listFolder(TMainForm& form, const QString& folder, int expected)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    // Clearing the last listing's rows is part of listing another folder.
    QElapsedTimer timer;
    timer.start();
    StallWatch watch;
    form.files->clear();
    form.files->setAutoSort(false);

    QEventLoop loop;
    double stall = 0;
    CThread thread;
    thread.OnTerminate = [&](TThread*) {
        stall = watch.longestMilliseconds();
        form.onterminate(nullptr);
        loop.quit();
    };
    thread.Start();
    loop.exec();
    thread.WaitFor();
    const double seconds = timer.nsecsElapsed() / 1e9;

    QDir::setCurrent(previous);
    if (form.files->rowCount() != expected)
        qFatal("listed %d files of %d", form.files->rowCount(), expected);
    return {seconds, stall};
}

// What any program must do at least: open each file with TagLib, read the ten fields the
// program shows (copyright, BPM and key through one property map) and the playing time,
// close it. Returns seconds.
double bareLoop(const QString& folder, const std::vector<QByteArray>& names)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    QElapsedTimer timer;
    timer.start();
    std::size_t checksum = 0;
    for (const QByteArray& name : names) {
        checksum += bareRead(name.constData());
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    QDir::setCurrent(previous);
    if (checksum == 0)
        qFatal("the bare loop read nothing");
    return seconds;
}

// Where the listing's time goes: the tag reads alone, then whole rows without the worker.
void breakdown(TMainForm& form, const QString& folder, const std::vector<QByteArray>& names,
               int rounds)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    QStringList texts;
    for (const QByteArray& name : names)
        texts << QString::fromUtf8(name);
    // The worker and its hand-offs with a receiver that does nothing.
    struct NullTarget : ScanTarget
    {
        void addfile(const QString&) override {}
    } nothing;

    double readTag = 1e9, rows = 1e9, handOffs = 1e9;
    QElapsedTimer timer;
    for (int round = 0; round < rounds; ++round) {
        timer.start();
        for (const QString& name : texts) {
            audiotag tag;
            ReadTag(name, tag);
        }
        readTag = std::min(readTag, timer.nsecsElapsed() / 1e9);

        form.files->clear();
        form.files->setAutoSort(false);
        timer.start();
        for (const QString& name : texts)
            form.files->addfile(name);
        form.files->setAutoSort(true);
        rows = std::min(rows, timer.nsecsElapsed() / 1e9);

        setScanTarget(&nothing);
        timer.start();
        {
            QEventLoop loop;
            CThread thread;
            thread.OnTerminate = [&](TThread*) { loop.quit(); };
            thread.Start();
            loop.exec();
            thread.WaitFor();
        }
        handOffs = std::min(handOffs, timer.nsecsElapsed() / 1e9);
        setScanTarget(&form);
    }
    QDir::setCurrent(previous);
    const double n = double(names.size());
    std::printf("per file: ReadTag %.1f us, addfile with the final sort %.1f us, "
                "directory walk and hand-off %.1f us\n",
                readTag / n * 1e6, rows / n * 1e6, handOffs / n * 1e6);
}

double threadCpuMilliseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// A header click on every column, then a second one on the last (which flips the
// direction): each sorts every row at once.
void timeHeaderClicks(FileList& list)
{
    const char* const names[] = {"File", "Title", "Artist", "Duration", "Last Modified"};
    std::printf("header clicks at %d rows:", list.rowCount());
    double longest = 0, longestCpu = 0;
    for (const int column : {0, 1, 2, 3, 4, 4}) {
        const double cpu = threadCpuMilliseconds();
        QElapsedTimer timer;
        timer.start();
        list.filesColumnClick(column);
        const double milliseconds = timer.nsecsElapsed() / 1e6;
        longest = std::max(longest, milliseconds);
        longestCpu = std::max(longestCpu, threadCpuMilliseconds() - cpu);
        std::printf(" %s %.1f ms,", names[column], milliseconds);
    }
    std::printf(" longest %.1f ms (CPU time of the GUI thread %.1f ms)\n", longest, longestCpu);
    list.SortColumn() = 0;
    list.SortFlag() = true;
}

// Busy threads on every core, as other programs would keep a machine busy.
class CpuLoad
{
public:
    CpuLoad()
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < cores; ++i)
            m_threads.emplace_back([this] { spin(); });
    }
    ~CpuLoad()
    {
        m_stop.store(true);
        for (std::thread& thread : m_threads)
            thread.join();
    }
    CpuLoad(const CpuLoad&) = delete;
    CpuLoad& operator=(const CpuLoad&) = delete;

    // CPU time of the busy threads so far, which the figures of the listing leave out.
    double cpuSeconds()
    {
        double seconds = 0;
        for (std::thread& thread : m_threads) {
            clockid_t clock;
            timespec used{};
            if (::pthread_getcpuclockid(thread.native_handle(), &clock) == 0 &&
                ::clock_gettime(clock, &used) == 0)
                seconds += used.tv_sec + used.tv_nsec / 1e9;
        }
        return seconds;
    }

private:
    void spin()
    {
        unsigned long long work = 0;
        while (!m_stop.load(std::memory_order_relaxed))
            work = work * 6364136223846793005ull + 1442695040888963407ull;
        m_sink.store(work, std::memory_order_relaxed);
    }

    std::atomic<bool> m_stop{false};
    std::atomic<unsigned long long> m_sink{0};
    std::vector<std::thread> m_threads;
};

struct Figures
{
    double ratio = 0;
    double cpuRatio = 0;
    double stallMilliseconds = 0;
};

// The process's CPU time less what the bench's own load has used.
double listingCpuSeconds(CpuLoad* load)
{
    return cpuSeconds() - (load ? load->cpuSeconds() : 0);
}

// Drops every file of the folder from the page cache (clean pages only, hence the sync
// after the folder was made). Needs no privileges, unlike drop_caches.
void evict(const QString& folder, const std::vector<QByteArray>& names)
{
    const QByteArray prefix = QFile::encodeName(folder) + "/";
    for (const QByteArray& name : names) {
        const QByteArray path = prefix + name;
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

// The best of a few rounds of listing and bare loop over one folder, with `load` running or
// not; cold, every file is evicted before each run. Warm and idle, it also prints where the
// time goes.
Figures measure(TMainForm& form, const QString& folder, const std::vector<QByteArray>& names,
                CpuLoad* load, bool cold)
{
    const int count = int(names.size());
    const int rounds = cold ? 2 : count <= 2000 ? 5 : count <= 20000 ? 2 : 1;
    double listing = 1e9, bare = 1e9, listingCpu = 1e9, bareCpu = 1e9, stall = 0;
    for (int round = 0; round < rounds; ++round) {
        if (cold)
            evict(folder, names);
        double cpu = listingCpuSeconds(load);
        const Listing run = listFolder(form, folder, count);
        listing = std::min(listing, run.seconds);
        stall = std::max(stall, run.stallMilliseconds);
        listingCpu = std::min(listingCpu, listingCpuSeconds(load) - cpu);
        if (cold)
            evict(folder, names);
        cpu = listingCpuSeconds(load);
        bare = std::min(bare, bareLoop(folder, names));
        bareCpu = std::min(bareCpu, listingCpuSeconds(load) - cpu);
    }
    std::printf("%s%s, %d files: listing %.0f files/s (%.3f s), bare TagLib loop %.0f files/s "
                "(%.3f s), longest stall %.1f ms\n",
                cold ? "cold, " : "", load ? "loaded" : "idle", count, count / listing, listing,
                count / bare, bare, stall);
    std::printf("per file: listing %.1f us, bare loop %.1f us (CPU time: %.1f us, %.1f us)\n",
                listing / count * 1e6, bare / count * 1e6, listingCpu / count * 1e6,
                bareCpu / count * 1e6);
    if (!load && !cold) {
        breakdown(form, folder, names, rounds);
        if (count >= 20000)
            timeHeaderClicks(*form.files);
    }
    std::fflush(stdout);
    return {listing / bare, listingCpu / bareCpu, stall};
}

// Loaded, then idle.
std::pair<Figures, Figures> measureBoth(TMainForm& form, const QString& folder,
                                        const std::vector<QByteArray>& names, bool cold)
{
    Figures loaded;
    {
        CpuLoad load;
        loaded = measure(form, folder, names, &load, cold);
    }
    return {loaded, measure(form, folder, names, nullptr, cold)};
}

// CPU time of the whole process so far (every thread), in seconds. On a busy machine it
// says more about the work done than the wall clock does.
double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double peakMib()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

struct Arguments
{
    std::vector<int> counts = {2000, 20000, 100000};
    int coldCount = 10000;
    QString coldFolder;
};

// [--cold N] [--cold-folder DIR] [SIZE...]
Arguments parseArguments(const QStringList& all)
{
    Arguments arguments;
    std::vector<int> counts;
    for (int i = 1; i < all.size(); ++i) {
        if (all[i] == QLatin1String("--cold") && i + 1 < all.size())
            arguments.coldCount = all[++i].toInt();
        else if (all[i] == QLatin1String("--cold-folder") && i + 1 < all.size())
            arguments.coldFolder = all[++i];
        else
            counts.push_back(all[i].toInt());
    }
    if (!counts.empty())
        arguments.counts = counts;
    return arguments;
}

// The files of an existing folder that a scan lists.
std::vector<QByteArray> audioFiles(const QString& folder)
{
    std::vector<QByteArray> names;
    for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (entry.size() > 0 && CThread::IsAudioFileExt(QLatin1Char('.') + entry.suffix()))
            names.push_back(QFile::encodeName(entry.fileName()));
    }
    return names;
}

// Written pages must reach the disk before they can be evicted.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir work;
    // Nothing of the user's own settings is read or written.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.path() + QStringLiteral("/config")));
    QApplication app(argc, argv);
    IniRegistry store(work.path() + QStringLiteral("/config"));
    setRegistry(&store);

    const QString empty = work.path() + QStringLiteral("/empty");
    QDir().mkpath(empty);
    QDir::setCurrent(empty);

    auto form = std::make_unique<TMainForm>();
    if (!TagLibraryLoaded())
        LoadTagLibrary();
    if (!TagLibraryLoaded())
        qFatal("libtagwrapper.so not found beside tagora-bench");
    form->show();
    // The first show starts the window's own scan; let it end before ours run.
    while (form->ScanThread && !form->ScanThread->Finished())
        app.processEvents(QEventLoop::AllEvents, 10);
    app.processEvents();

    const std::vector<Template> templates = makeTemplates(work.path());
    std::printf("files of all six types, %zu tagged variants\n", templates.size());

    // Sizes may be given for a quick check or for profiling; the last lines then report
    // those sizes.
    const Arguments arguments = parseArguments(app.arguments());
    std::vector<std::pair<Figures, Figures>> figures;
    for (const int count : arguments.counts) {
        const QString folder = work.path() + QStringLiteral("/files%1").arg(count);
        QDir().mkpath(folder);
        const std::vector<QByteArray> names = makeFolder(folder, count, templates);
        bareLoop(folder, names); // warm the page cache
        figures.push_back(measureBoth(*form, folder, names, false));
        QDir(folder).removeRecursively();
    }
    std::pair<Figures, Figures> cold;
    const bool measuresCold = arguments.coldCount > 0 || !arguments.coldFolder.isEmpty();
    if (measuresCold) {
        const bool generated = arguments.coldFolder.isEmpty();
        const QString folder = generated ? work.path() + QStringLiteral("/cold")
                                         : QDir(arguments.coldFolder).absolutePath();
        QDir().mkpath(folder);
        const std::vector<QByteArray> names =
            generated ? makeFolder(folder, arguments.coldCount, templates) : audioFiles(folder);
        syncFolder(folder);
        cold = measureBoth(*form, folder, names, true);
        if (generated)
            QDir(folder).removeRecursively();
    }

    form.reset();
    setRegistry(nullptr);
    for (const bool loaded : {true, false}) {
        const char* const prefix = loaded ? "loaded " : "";
        double stall = 0;
        for (std::size_t i = 0; i < arguments.counts.size(); ++i) {
            const Figures& f = loaded ? figures[i].first : figures[i].second;
            std::printf("%sratio %d %.2f\n", prefix, arguments.counts[i], f.ratio);
            std::printf("%scpu_ratio %d %.2f\n", prefix, arguments.counts[i], f.cpuRatio);
            stall = std::max(stall, f.stallMilliseconds);
        }
        if (measuresCold) {
            const Figures& f = loaded ? cold.first : cold.second;
            std::printf("%scold_ratio %.2f\n%scold_cpu_ratio %.2f\n", prefix, f.ratio, prefix,
                        f.cpuRatio);
        }
        std::printf("%sstall_ms %.0f\n", prefix, stall);
    }
    std::printf("peak_mib %.0f\n", peakMib());
    return 0;
}
