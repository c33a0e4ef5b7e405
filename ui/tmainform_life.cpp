// The life of the main window and the refresh cycle: creation, first show, destruction,
// folder changes and the Refresh command.
#include "tmainform.h"

#include "services/directories.h"
#include "services/messageboxes.h"
#include "services/settings.h"
#include "tags/filestamp.h"
#include "tags/taglibrary.h"
#include "ui/filelist.h"
#include "ui/foldertree.h"
#include "ui/tageditorpanel.h"

#include <QLabel>
#include <QMenuBar>

#include <csignal>

namespace tagora {

void TMainForm::FormCreate(QObject*)
{
    // Settings errors are shown where they occur; creation goes on with the defaults.
    runGuarded([] {
        config loaded;
        LoadSettings(loaded);
        Settings = loaded;
    });
    // The list paints double-buffered anyway; the menu bar shows the band behind it.
    ActionMainMenuBar1->setAutoFillBackground(false);
    // A save that outgrows a file-size limit (a quota, a FAT32 stick) must fail with EFBIG,
    // which the tag library reports, instead of killing the window with SIGXFSZ.
    ::signal(SIGXFSZ, SIG_IGN);
    LoadTagLibrary();
    ClearAll();
    SortColumn = 0;
    SortFlag = true;
    validatecontrols();
    connect(ShellTreeView1, &FolderTree::folderChanged, this, [this](const QModelIndex& node) {
        runGuarded([&] { ShellTreeView1Change(ShellTreeView1, node); });
    });
}

void TMainForm::FormShow(QObject*)
{
    // Selecting the saved folder refreshes once by itself; the refresh below replaces that
    // scan with the one that fills the list.
    if (DirectoryExists(Settings.LastFolder))
        ShellTreeView1->selectPath(Settings.LastFolder);
    RefreshActionExecute(this);
    SortColumn = 0;
    SortFlag = false;
    filesColumnClick(this, FileList::FileColumn);
    validatecontrols();
}

void TMainForm::FormDestroy(QObject*)
{
    // The worker hands rows over until it ends, and reading them needs the tag library.
    stopScan();
    UnloadTagLibrary();
    SaveSettings(Settings);
}

void TMainForm::stopScan()
{
    if (!ScanThread)
        return;
    ScanThread->Terminate();
    // Serves the hand-offs still coming, and the old worker's onterminate.
    ScanThread->WaitFor();
    // ScanThread is none before the old worker goes.
    const std::unique_ptr<CThread> finished = std::move(ScanThread);
}

void TMainForm::ShellTreeView1Change(QObject*, const QModelIndex&)
{
    RefreshActionExecute(this);
    validatecontrols();
    const QModelIndex folder = ShellTreeView1->selectedFolder();
    if (folder.isValid())
        Settings.LastFolder = ShellTreeView1->folderPath(folder);
}

void TMainForm::RefreshActionExecute(QObject*)
{
    stopScan();
    files->clear();

    // Only an existing directory is listed. The current directory follows a folder renamed
    // away, so listing it instead would show that folder's files under the old name.
    const QModelIndex folder = ShellTreeView1->selectedFolder();
    const QString path = folder.isValid() ? ShellTreeView1->folderPath(folder) : QString();
    if (!DirectoryExists(path)) {
        TagPanel->setListedFolder(FileStamp());
        onterminate(this);
        return;
    }
    enterFolder(path);

    files->setAutoSort(false);
    ScanThread = std::make_unique<CThread>();
    ScanThread->OnTerminate = [this](TThread*) { onterminate(this); };
    ScanThread->Start();
}

void TMainForm::enterFolder(const QString& path)
{
    try {
        SetCurrentDir(path);
    } catch (...) {
        // The count of the last listing would describe a list that is now empty.
        StatusPanel0->clear();
        throw;
    }
    TagPanel->setListedFolder(fileStampOf(QStringLiteral(".")));
}

} // namespace tagora
