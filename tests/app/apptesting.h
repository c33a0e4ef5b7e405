#pragma once
// What the tests of the working program share: a private home, folders of real audio files,
// the window started and its scans waited for.

#include "scan/cthread.h"
#include "services/settings.h"
#include "support/fixtures.h"
#include "support/ordinaryuser.h"
#include "support/taglibraryloaded.h"
#include "tags/audiotag.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"
#include "ui/filelist.h"
#include "ui/tmainform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <functional>
#include <thread>

namespace tagora::test {

// A home of its own: HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR point into it, so the
// desktop folder, the settings and the lock file are all the test's. Readable by others, so
// an ordinary user's file access can be tried in it.
class PrivateHome
{
public:
    PrivateHome()
    {
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadOther | QFile::ExeOther |
                                                QFile::ReadGroup | QFile::ExeGroup);
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/.config")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.path()));
    }
    QString path() const { return m_dir.path(); }
    QString desktop() const { return m_dir.path() + QStringLiteral("/Desktop"); }

private:
    QTemporaryDir m_dir;
};

// Makes `folder` (and its parents) and fills it with `copies` tagged copies of each
// fixture: "<TYPE> <n>.<type>", titled "Title of <name>", artist "Artist <type>".
inline QStringList makeAudioFolder(const QString& folder, int copies = 1)
{
    QStringList names;
    if (!loadTagLibraryOnce())
        qWarning("libtagwrapper.so not found beside the test program");
    QDir().mkpath(folder);
    for (int copy = 0; copy < copies; ++copy) {
        for (const char* type : kAudioTypes) {
            const QString ext = QLatin1String(type);
            const QString name = QStringLiteral("%1 %2.%3").arg(ext.toUpper()).arg(copy).arg(ext);
            const QString path = folder + QLatin1Char('/') + name;
            if (!QFile::copy(sampleFile(ext), path))
                qWarning("cannot copy the fixture to %s", qPrintable(path));
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                            QFile::ReadGroup);
            audiotag tag;
            ReadTag(path, tag);
            tag.Title = QStringLiteral("Title of ") + name;
            tag.Artist = QStringLiteral("Artist ") + ext;
            if (WriteTag(path, tag) != WriteTagResult::Saved)
                qWarning("cannot tag %s", qPrintable(path));
            names << name;
        }
    }
    return names;
}

inline QStringList column(const FileList* list, int index)
{
    QStringList texts;
    for (int row = 0; row < list->rowCount(); ++row)
        texts << list->cellText(row, index);
    return texts;
}

// The row of a file, followed through sorts and insertions; invalid without one.
inline QPersistentModelIndex rowNamed(const FileList* list, const QString& name)
{
    return QPersistentModelIndex(list->model()->index(list->rowNamed(name), FileList::FileColumn));
}

inline QString cell(const QPersistentModelIndex& row, int column)
{
    return row.sibling(row.row(), column).data().toString();
}

inline bool isSelected(const FileList* list, const QPersistentModelIndex& row)
{
    return row.isValid() && list->selectionModel()->isRowSelected(row.row());
}

// The settings as the store holds them now.
inline config storedSettings()
{
    config stored;
    LoadSettings(stored);
    return stored;
}

inline void storeLastFolder(const QString& folder)
{
    config settings = storedSettings();
    settings.LastFolder = folder;
    SaveSettings(settings);
}

// True once the window's current scan has ended (its onterminate has run), or when the last
// refresh started none (a folder that is not an existing directory, or cannot be entered).
inline bool scanEnded(const TMainForm* form)
{
    return !form->ScanThread || form->ScanThread->Finished();
}

// Passes files on to the window and, after the given one, lets the test act as the user
// would between two hand-offs.
struct ActingTarget : ScanTarget
{
    ActingTarget(TMainForm* window, int after, std::function<void()> act)
        : form(window), actAfter(after), action(std::move(act))
    {
        setScanTarget(this);
    }
    ~ActingTarget() { setScanTarget(form); }
    void addfile(const QString& fileName) override
    {
        form->addfile(fileName);
        if (++files == actAfter)
            action();
    }
    TMainForm* form;
    int actAfter;
    std::function<void()> action;
    int files = 0;
};

// Returns once some worker waits in a hand-off (or after ten seconds).
inline void waitForHandOff()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!TThread::HandOffPending() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace tagora::test
