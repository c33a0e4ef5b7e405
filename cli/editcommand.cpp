#include "cli/commands.h"
#include "cli/editsession.h"
#include "cli/filecommand.h"
#include "cli/listformat.h"
#include "cli/namepattern.h"
#include "edit/editsession.h"
#include "services/nativepath.h"
#include "tags/filestamp.h"
#include "tags/tagfields.h"

#include <QSet>

namespace tagora::cli {
namespace {

// The fields of edit's --fields lists, all ten when none is given; false with the
// first unknown name.
bool editedFields(const QList<QByteArray>& lists, QList<QString audiotag::*>& members,
                  QByteArray& unknown)
{
    for (const TagField& field : TagFields) {
        if (lists.isEmpty())
            members.append(field.member);
    }
    for (const QByteArray& list : lists) {
        for (const QByteArray& name : list.split(',')) {
            members.append(memberNamed(QString::fromUtf8(name.trimmed())));
            unknown = name;
            if (!members.last())
                return false;
        }
    }
    return true;
}

class EditCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;

private:
    void applyEditedRow(const EditRow& row, const EditSession& session,
                        const QList<QString audiotag::*>& members,
                        const QMap<qsizetype, QString>& cells);
};

int EditCommand::run()
{
    if (m_options.arguments.isEmpty())
        return usage("edit needs at least one file or folder");
    QList<QString audiotag::*> members;
    QByteArray unknown;
    if (!editedFields(m_options.fields, members, unknown))
        return usage("unknown field '" + unknown + "' in --fields");
    QList<QByteArray> names;
    for (QString audiotag::*member : std::as_const(members))
        names.append(scriptName(member));
    QList<EditRow> rows;
    QList<EditSession> sessions;
    QSet<QByteArray> listed; // a file named twice gets one row
    forEachFile(m_options.arguments, [&](const QByteArray& path) {
        if (listed.contains(absolutePath(path)))
            return;
        const FileStamp stamp = fileStampOf(pathFromNative(path));
        FileIdentity identity;
        audiotag tag;
        if (!load(path, identity, tag))
            return;
        listed.insert(absolutePath(path));
        rows.append({path, {}});
        for (QString audiotag::*member : std::as_const(members))
            rows.last().values.append(shownText(tag, member));
        sessions.append(EditSession());
        sessions.last().show(tag, stamp);
    });
    if (rows.isEmpty() && !m_options.quiet)
        writeBytes(stderr, "tagora-cli: no files to edit\n");
    // The journal is locked from its opening on, so it is opened only once the editor is
    // closed: other commands need not wait for the user.
    TableEdits edits;
    QByteArray reason;
    if (!rows.isEmpty() && !editInEditor(names, rows, edits, reason))
        fail("edit", reason + "; nothing changed");
    if (rows.isEmpty() || !reason.isEmpty() || !startJournal())
        return status();
    for (const QByteArray& message : std::as_const(edits.refused))
        fail("edit", message);
    // The files were chosen when the table was written; a cell edited since must not
    // unchoose its file.
    m_where = WhereFilter();
    for (auto it = edits.changed.cbegin(); it != edits.changed.cend(); ++it)
        applyEditedRow(rows[it.key()], sessions[it.key()], members, it.value());
    summarize();
    return status();
}

// Another program may have saved the file while the editor was open: the fields not edited
// here keep what it wrote, and only a field it changed to another text than the table's is
// a reason to leave the file alone.
void EditCommand::applyEditedRow(const EditRow& row, const EditSession& session,
                                 const QList<QString audiotag::*>& members,
                                 const QMap<qsizetype, QString>& cells)
{
    audiotag edited = session.shown();
    for (auto cell = cells.cbegin(); cell != cells.cend(); ++cell)
        edited.*members[cell.key()] = cell.value();
    const qint64 changedBefore = m_changed;
    changeFile(row.path, [&](const QByteArray& path, audiotag& current) {
        const SavePlan plan = session.planSave(fileStampOf(pathFromNative(path)), current, edited);
        if (plan.step == SavePlan::Step::AskBeforeOverwriting && !m_options.force) {
            fail(path, "changed on disk while being edited; left alone (--force writes it anyway)");
            return false;
        }
        current = plan.tag;
        return true;
    });
    for (auto cell = cells.cbegin();
         m_changed > changedBefore && !m_options.dryRun && cell != cells.cend(); ++cell)
        print(row.path + ": " + scriptName(members[cell.key()]) + ": " +
              tsvEscaped(row.values[cell.key()].toUtf8()) + " → " +
              tsvEscaped(cell.value().toUtf8()) + '\n');
}

} // namespace

extern const Command kEditCommand = {
    "edit", "rnqfwL",
    "Usage: tagora-cli edit [-r] [-n] [--force] [--fields F1,F2...] PATH...\n"
    "Opens the files' fields as a table (tsv, one row per file, the path first) in\n"
    "$VISUAL or $EDITOR, then writes only the cells changed there. A row whose path\n"
    "was changed, removed or doubled is refused. A file another program saved in\n"
    "the meantime keeps that program's values in the cells not changed here; one\n"
    "where it changed a cell changed here to another value is refused, unless\n"
    "--force is given.\n",
    true, &FileCommand::runAs<EditCommand>};

} // namespace tagora::cli
