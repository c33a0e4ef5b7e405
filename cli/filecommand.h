#pragma once

#include "cli/filewalk.h"
#include "cli/groupcommit.h"
#include "cli/journal.h"
#include "cli/namedfields.h"
#include "cli/options.h"
#include "cli/picturefile.h"
#include "cli/progress.h"
#include "cli/whereexpr.h"
#include "tags/audiotag.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdio>
#include <functional>
#include <memory>

namespace tagora::cli {

void writeBytes(std::FILE* stream, const QByteArray& bytes);

// What one of the ten fields was and is to become.
struct FieldChange
{
    QString audiotag::*member;
    QString before;
    QString after;
};

QList<FieldChange> differences(const audiotag& before, const audiotag& after);

// A field's value for --where, by its lower-case name; the pictures are counted only when an
// expression asks for them, as that opens the file once more.
QString whereValue(const QByteArray& path, const audiotag& tag, const QString& field);

// What a save writes: the ten fields of `fields` over the file's, the whole tag removed, or
// what was changed in the open `file` (named fields, pictures, the ID3v2 version).
struct TagSave
{
    const audiotag* fields = nullptr;
    bool strip = false;
    PictureFile* file = nullptr;

    static TagSave tenFields(const audiotag& tag) { return {&tag, false, nullptr}; }
    // The ten fields through the handle they were read from.
    static TagSave tenFieldsInto(const audiotag& tag, PictureFile& file)
    {
        return {&tag, false, &file};
    }
    static TagSave tagRemoved() { return {nullptr, true, nullptr}; }
    static TagSave openFile(PictureFile& file) { return {nullptr, false, &file}; }
};
// The one place a file's tags are written to disk. False with errno as the library left it.
bool saveTags(const QByteArray& path, const TagSave& save);

// An edit of a file's tag; false when it reported its own failure and the file is to be
// left alone.
using TagEdit = std::function<bool(const QByteArray& path, audiotag& tag)>;

// A file's rename, planned before any file is touched, so "-n" shows what the real run does.
struct PlannedRename
{
    QByteArray from;
    QByteArray to;
};

// What every command that works file by file shares: the walk with its progress line, the
// journal each change is written ahead into, one stderr line per failed file, the summary,
// and the changes several commands make (the ten fields, named fields, the ID3v2 version,
// a rename), each a journalled change of its own. A command derives from it and gives run().
class FileCommand
{
public:
    explicit FileCommand(Options options) : m_options(std::move(options)) {}
    virtual ~FileCommand() = default;
    FileCommand(const FileCommand&) = delete;
    FileCommand& operator=(const FileCommand&) = delete;

    // The exit status, as runCommandLine() gives it.
    virtual int run() = 0;

    // Runs a command of class C on `options`, its --where expressions checked first.
    template <class C> static int runAs(const Options& options)
    {
        C command(options);
        return command.start();
    }

protected:
    int usage(const QByteArray& message);
    int status() const;
    bool stopped() const;
    void fail(const QByteArray& path, const QByteArray& reason);
    void print(const QByteArray& text);
    bool startJournal();
    void settleLeftovers(QList<JournalRecord>& records, bool write);
    void summarize();

    QList<QByteArray> collectFiles(const QList<QByteArray>& paths);
    void forEachFile(const QList<QByteArray>& paths,
                     const std::function<void(const QByteArray&)>& visit);
    void forEachListed(const QList<QByteArray>& files,
                       const std::function<void(const QByteArray&)>& visit);
    bool load(const QByteArray& path, FileIdentity& identity, audiotag& tag,
              bool chosenOnly = true);
    // load() through a handle opened on the file, whose opened() is the identity the tag was
    // read at.
    bool load(const QByteArray& path, const PictureFile& file, audiotag& tag);
    bool readable(const QByteArray& path, FileIdentity& identity);
    bool chosen(const QByteArray& path, const audiotag& tag, bool chosenOnly);
    bool save(const QByteArray& path, const FileIdentity& before, const TagSave& what);
    JournalRecord recordOf(const QByteArray& path, const FileIdentity& before,
                           const QList<FieldChange>& changes) const;
    bool writeAhead(JournalRecord& entry, const QByteArray& path);
    void settle(const JournalRecord& entry, bool done);
    // Saves the library holds for the group are made durable together, and settled.
    void commitGroup();
    void printChanges(const QByteArray& path, const QList<FieldChange>& changes);

    void changeFile(const QByteArray& path, const TagEdit& edit, const QByteArray& undoes = {});
    // Each file's change of the ten fields, its ID3v2 version (--id3v2) and `alsoChange`.
    void changeFiles(const QList<QByteArray>& paths, const TagEdit& edit,
                     const std::function<void(const QByteArray&)>& alsoChange = {});
    void setNamedIn(const QByteArray& path, const QList<PropertyAssignment>& assignments,
                    const QByteArray& undoes = {});
    void convertFile(const QByteArray& path, int version, const QByteArray& undoes = {});
    void renameFile(const PlannedRename& plan, const QByteArray& undoes = {});
    // What was done to the pictures of the open `file`, which held `before`, as a change of
    // its own; the bytes of each picture that goes are kept first, so that a journal line
    // never names bytes that are not there.
    void changePictures(PictureFile& file, const QByteArray& path,
                        const QList<StoredPicture>& before);

    const Options m_options;
    Journal m_journal;
    WhereFilter m_where;
    std::unique_ptr<Progress> m_progress;
    // Saves of a run that makes one change per file are made durable in groups.
    std::unique_ptr<GroupCommit> m_group;
    bool m_failed = false;
    qint64 m_failures = 0;
    bool m_journalBroken = false;
    qint64 m_changed = 0;
    qint64 m_unchanged = 0;
    // Each file's identity after the journal's latest change to it: a file that differs
    // from it was changed by something else since.
    QHash<QByteArray, FileIdentity> m_journalled;
    // The file being visited once --where chose it: the later changes of one visit go on
    // after an earlier one changed the fields the expression reads.
    QByteArray m_chosenFile;

private:
    int start();
    void journalFailed(int error, const QByteArray& path);
    bool moveFile(const QByteArray& from, const QByteArray& to);
};

} // namespace tagora::cli
