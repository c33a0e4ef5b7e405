#pragma once

#include "scan/tthread.h"

#include <QString>

#include <cstdint>
#include <exception>

namespace tagora {

// Whatever receives the files a scan finds: the main window. Called on the GUI thread
// only, inside the worker's hand-off; what it throws ends the scan.
class ScanTarget
{
public:
    // `fileName` is a bare name, resolved against the process's current directory.
    virtual void addfile(const QString& fileName) = 0;
    // The same with the file's modification time (seconds since the epoch, after links) as
    // the search read it, which spares the receiver looking it up again. The scan calls this
    // one; by default it passes the name on.
    virtual void addScannedFile(const QString& fileName, std::int64_t modifiedSeconds)
    {
        static_cast<void>(modifiedSeconds);
        addfile(fileName);
    }

protected:
    ~ScanTarget() = default;
};

// The one receiver of scanned files (not owned; null until the main window sets it, and
// then files found are dropped). GUI thread only.
ScanTarget* scanTarget();
void setScanTarget(ScanTarget* target);

// Lists the audio files of the process's current directory, handing each one to the
// GUI thread (scanTarget()->addfile) and waiting until it has been added. Sub-folders are
// not entered; hidden files are listed. A file is kept when its extension is one of
// the window's types ("tagora/audiotypes.h", ASCII case folded) and it is a regular file of size >
// 0, or a symbolic link to one. An error raised while a file is handed over ends the scan and is
// shown once with the standard error display (silent-abort errors are not shown). While the GUI
// thread reads one file's tag, the worker walks on to the next few audio files and asks the kernel
// to bring their heads and tails into the page cache, then what their headers say their tags hold
// beyond that (covers); it opens them for that alone, never parses a tag, and still hands them
// over one at a time, in the search's order.
class CThread : public TThread
{
public:
    CThread() = default;
    ~CThread() override;

    // `extension` with its leading dot (".mp3").
    static bool IsAudioFileExt(const QString& extension);

    // The bare name being handed over, and its modification time; written by the worker
    // before each hand-off.
    QString CurrentName;
    std::int64_t CurrentModified = 0;
    // The error being relayed to the GUI thread; null except while ReportScanError runs.
    std::exception_ptr PendingError;

protected:
    void Execute() override;
    virtual void ReportScanError(std::exception_ptr error);

private:
    void DeliverFile();
    void ShowScanError();
};

} // namespace tagora
