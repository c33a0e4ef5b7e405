#include "cthread.h"

#include "services/errors.h"
#include "services/messageboxes.h"
#include "services/nativepath.h"

#include <dirent.h>
#include <sys/stat.h>

namespace tagora {
namespace {

ScanTarget* g_scanTarget = nullptr;

// Size of a directory entry that may be listed: a regular file's own size, or the size of
// the regular file a symbolic link points to. Anything else (directories, devices, dangling
// links, links to directories) gives -1. The name is relative to the current directory.
qint64 listableSize(const char* name)
{
    struct stat info;
    if (::lstat(name, &info) != 0)
        return -1;
    if (S_ISLNK(info.st_mode) && ::stat(name, &info) != 0)
        return -1;
    return S_ISREG(info.st_mode) ? static_cast<qint64>(info.st_size) : -1;
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
    QString lower = extension;
    for (QChar& c : lower) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    bool result = false;
    for (const QLatin1String& known : AudioExtensions) {
        if (lower == known)
            result = true;
    }
    return result;
}

void CThread::Execute()
{
    PendingError = nullptr;
    try {
        // "." is resolved once, here: the search stays in the folder that was current now.
        DirectorySearch search(".");
        const dirent* entry = search.next();
        while (entry && !Terminated()) {
            const QString name = pathFromNative(QByteArray(entry->d_name));
            const int dot = name.lastIndexOf(QLatin1Char('.'));
            const QString extension = dot < 0 ? QString() : name.mid(dot);
            if (IsAudioFileExt(extension) && listableSize(entry->d_name) > 0) {
                CurrentName = name;
                Synchronize([this] { DeliverFile(); });
            }
            entry = search.next();
        }
    } catch (...) {
        ReportScanError(std::current_exception());
    }
}

void CThread::DeliverFile()
{
    if (ScanTarget* target = scanTarget())
        target->addfile(CurrentName);
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
