#include "cthread.h"
#include "tagextent.h"

#include "services/errors.h"
#include "services/messageboxes.h"
#include "services/nativepath.h"
#include "tagora/audiotypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tagora {
namespace {

ScanTarget* g_scanTarget = nullptr;

// How many accepted files the worker keeps ahead of the hand-offs. The kernel is asked to
// read each one's head and tail as it joins them, so a cold disk has that many requests in
// its queue instead of the one that the tag read in progress makes. The window is filled
// again when half of it is gone, so requests go out in batches; those heads that have
// arrived by the time a quarter is gone tell what else the tags hold (covers). On 10,000
// files of 150-210 KB with a cover each, listed cold: 32 files, 0.61 times the bare loop's
// time; 64, 0.53; 128, 0.52.
constexpr std::size_t kReadAheadFiles = 64;
// Where tag reads look: the head holds ID3v2, FLAC, ASF and Ogg headers and MP4's leading
// atoms; the tail holds ID3v1 and APE tags and Ogg's last page. The tag library's input
// guards read the tail in one window of 16 KB; with only its last 4 KB read ahead, each file
// of a cold folder still waited for the disk once (190 KB MP3s listed cold took 1.2 times
// the bare loop's time instead of 0.53 times).
constexpr off_t kHeadBytes = 128 * 1024;
constexpr off_t kTailBytes = 16 * 1024;

// Whether a directory entry may be listed: a regular file that is not empty, or a symbolic
// link to one. `info` then describes that file. Anything else (directories, devices, dangling
// links, links to directories) may not. The name is relative to the current directory.
bool listable(const char* name, struct stat& info)
{
    if (::lstat(name, &info) != 0)
        return false;
    if (S_ISLNK(info.st_mode) && ::stat(name, &info) != 0)
        return false;
    return S_ISREG(info.st_mode) && info.st_size > 0;
}

// Not blocking on a special file that has taken the name since it was looked at.
constexpr int kReadAheadOpen = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// listable() for a directory entry, with the file opened for its read-ahead: `fd`, or -1
// when it cannot be opened (it is listed all the same). An entry the search calls a regular
// file is opened first and looked at through the descriptor: its name is looked up once
// instead of twice, and a device or a link is never opened that way.
bool openListable(const dirent& entry, struct stat& info, int& fd)
{
    if (entry.d_type == DT_REG) {
        fd = ::open(entry.d_name, kReadAheadOpen | O_NOFOLLOW);
        if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
            if (info.st_size > 0)
                return true;
            ::close(fd);
            return false;
        }
        if (fd >= 0)
            ::close(fd);
    }
    fd = -1;
    if (!listable(entry.d_name, info))
        return false;
    fd = ::open(entry.d_name, kReadAheadOpen);
    return true;
}

class DirectorySearch
{
public:
    explicit DirectorySearch(const char* path) : m_dir(::opendir(path)) {}
    ~DirectorySearch()
    {
        if (m_dir)
            ::closedir(m_dir);
    }
    DirectorySearch(const DirectorySearch&) = delete;
    DirectorySearch& operator=(const DirectorySearch&) = delete;

    const dirent* next() { return m_dir ? ::readdir(m_dir) : nullptr; }

private:
    DIR* m_dir;
};

// Asks the kernel to bring the parts of a file that its tag read will want into the page
// cache, and returns at once. A file whose first page is cached already is left alone.
class ReadAhead
{
public:
    // True when the file was cold and its head and tail were asked for.
    static bool file(int fd, off_t size)
    {
        char byte;
        iovec first{&byte, 1};
        if (::preadv2(fd, &first, 1, 0, RWF_NOWAIT) == 1)
            return false;
        if (size <= kHeadBytes + kTailBytes) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
        } else {
            ::posix_fadvise(fd, 0, kHeadBytes, POSIX_FADV_WILLNEED);
            ::posix_fadvise(fd, size - kTailBytes, kTailBytes, POSIX_FADV_WILLNEED);
        }
        return true;
    }

    // Asks for what the file's tags hold beyond the head and tail asked for before, as far
    // as the headers that have arrived since tell: covers make a tag larger than the head.
    static void tagsBeyond(const char* name, off_t size)
    {
        const int fd = ::open(name, kReadAheadOpen);
        if (fd < 0)
            return;
        const CachedRead cached = [fd](off_t offset, void* into, std::size_t count) {
            iovec buffer{into, count};
            return ::preadv2(fd, &buffer, 1, offset, RWF_NOWAIT) == ssize_t(count);
        };
        for (const ByteRange& range : tagBytesBeyond(cached, size, kHeadBytes, kTailBytes))
            ::posix_fadvise(fd, range.from, range.to - range.from, POSIX_FADV_WILLNEED);
        ::close(fd);
    }
};

// Which files the walk opens to see whether they are cached. Opening every file cost a warm
// folder's listing a tenth of its time, and looking at one file in sixteen alone, letting it
// stand for the others, left most cold files of a folder cached in part to wait for the disk
// one by one. So every file is looked at until a long run of them was found cached, and
// from then on one in sixteen, until one is found cold.
class CacheWatch
{
public:
    bool looksAtNext()
    {
        ++m_sinceLook;
        return m_cachedRun < kCachedRunBeforeSampling || m_sinceLook >= kSampleEvery;
    }

    void saw(bool cold)
    {
        m_sinceLook = 0;
        m_cachedRun = cold ? 0 : m_cachedRun + 1;
    }

private:
    static constexpr int kCachedRunBeforeSampling = 64;
    static constexpr int kSampleEvery = 16;

    int m_cachedRun = 0;
    int m_sinceLook = 0;
};

// The audio files of the directory search that come next, each read ahead as it is found,
// in the order the search delivers them. Stops reading when the thread is told to stop.
class Lookahead
{
public:
    explicit Lookahead(const TThread& thread) : m_thread(thread), m_search(".") {}

    // Reads entries until `count` files wait or the search is over.
    void fill(std::size_t count)
    {
        while (m_files.size() < count && !m_thread.Terminated()) {
            const dirent* entry = m_search.next();
            if (!entry)
                return;
            const QString name = pathFromNative(QByteArray(entry->d_name));
            const int dot = name.lastIndexOf(QLatin1Char('.'));
            const QString extension = dot < 0 ? QString() : name.mid(dot);
            if (!CThread::IsAudioFileExt(extension))
                continue;
            struct stat info;
            bool askedFor = false;
            if (m_cache.looksAtNext()) {
                int fd = -1;
                if (!openListable(*entry, info, fd))
                    continue;
                askedFor = fd >= 0 && ReadAhead::file(fd, info.st_size);
                if (fd >= 0)
                    ::close(fd);
                m_cache.saw(askedFor);
            } else if (!listable(entry->d_name, info)) {
                continue;
            }
            m_files.push_back({name, std::int64_t(info.st_mtim.tv_sec),
                               askedFor ? QByteArray(entry->d_name) : QByteArray(), info.st_size});
        }
    }

    // The files waiting whose heads were asked for at the last fill have had the time of
    // several tag reads to arrive; what those heads tell is asked for now.
    void askForTagsBeyondTheHeads()
    {
        for (File& file : m_files) {
            if (!file.nativeName.isEmpty())
                ReadAhead::tagsBeyond(file.nativeName.constData(), file.size);
            file.nativeName.clear();
        }
    }

    struct File
    {
        QString name;
        std::int64_t modified;
        QByteArray nativeName; // while what its tags hold beyond the head is still to ask for
        off_t size;
    };

    bool empty() const { return m_files.empty(); }
    std::size_t size() const { return m_files.size(); }
    File take()
    {
        File file = std::move(m_files.front());
        m_files.pop_front();
        return file;
    }

private:
    const TThread& m_thread;
    DirectorySearch m_search;
    CacheWatch m_cache;
    std::deque<File> m_files;
};

} // namespace

ScanTarget* scanTarget()
{
    return g_scanTarget;
}

void setScanTarget(ScanTarget* target)
{
    g_scanTarget = target;
}

CThread::~CThread()
{
    // Execute uses this object's members, so the thread must end before they go.
    Terminate();
    WaitFor();
}

bool CThread::IsAudioFileExt(const QString& extension)
{
    // A character beyond Latin-1 turns into '?', which no extension holds.
    const QByteArray latin1 = extension.toLatin1();
    return isAudioExtension(std::string_view(latin1.constData(), std::size_t(latin1.size())),
                            AudioLister::Window);
}

void CThread::Execute()
{
    PendingError = nullptr;
    try {
        // "." is resolved once, here: the search stays in the folder that was current now.
        Lookahead ahead(*this);
        ahead.fill(1);
        while (!ahead.empty() && !Terminated()) {
            Lookahead::File file = ahead.take();
            CurrentName = std::move(file.name);
            CurrentModified = file.modified;
            // The next files are read ahead while the GUI thread reads this one's tag.
            Synchronize([this] { DeliverFile(); },
                        [&ahead] {
                            if (ahead.size() < kReadAheadFiles * 3 / 4)
                                ahead.askForTagsBeyondTheHeads();
                            if (ahead.size() < kReadAheadFiles / 2)
                                ahead.fill(kReadAheadFiles);
                        });
        }
    } catch (...) {
        ReportScanError(std::current_exception());
    }
}

void CThread::DeliverFile()
{
    if (ScanTarget* target = scanTarget())
        target->addScannedFile(CurrentName, CurrentModified);
}

void CThread::ReportScanError(std::exception_ptr error)
{
    PendingError = std::move(error);
    try {
        try {
            std::rethrow_exception(PendingError);
        } catch (const EAbort&) {
            PendingError = nullptr;
            return;
        } catch (...) {
        }
        Synchronize([this] { ShowScanError(); });
    } catch (...) {
        PendingError = nullptr;
        throw;
    }
    PendingError = nullptr;
}

void CThread::ShowScanError()
{
    // Releasing a mouse grab before the modal box is the widget message box's business.
    showUnhandled(PendingError);
}

} // namespace tagora
