#include "tageditorpanel.h"

#include "services/directories.h"
#include "services/messageboxes.h"
#include "services/nativepath.h"
#include "services/shell.h"
#include "tags/tagfields.h"
#include "tags/tagoperations.h"
#include "ui/filelist.h"
#include "ui/foldertree.h"
#include "ui/limitededit.h"
#include "ui/tmainform.h"

#include <QUrl>

#include <utility>

namespace tagora {

TagEditorPanel::TagEditorPanel(TMainForm& form) : QObject(&form), m_form(form) {}

std::array<LimitedEdit*, 10> TagEditorPanel::fields() const
{
    std::array<LimitedEdit*, 10> edits = {};
    for (std::size_t i = 0; i < TagFields.size(); ++i)
        edits[i] = m_form.findChild<LimitedEdit*>(QLatin1String(TagFields[i].editName));
    return edits;
}

int TagEditorPanel::selectedRow() const
{
    return m_form.files->selectedRow();
}

QString TagEditorPanel::SelectedFilePath() const
{
    const int row = selectedRow();
    const QModelIndex folder = m_form.ShellTreeView1->selectedFolder();
    if (row < 0 || !folder.isValid())
        return QString();
    return m_form.ShellTreeView1->folderPath(folder) + QLatin1Char('/') +
           m_form.files->cellText(row, FileList::FileColumn);
}

bool TagEditorPanel::selectedFolderIsListed() const
{
    const QModelIndex folder = m_form.ShellTreeView1->selectedFolder();
    return folder.isValid() &&
           fileStampOf(m_form.ShellTreeView1->folderPath(folder)).isSameFileAs(m_listedFolder);
}

void TagEditorPanel::ShowTag()
{
    m_form.ClearAll();
    m_shown = audiotag();
    m_pasted.fill(false);
    m_shownStamp = FileStamp();
    const QString path = SelectedFilePath();
    if (path.isEmpty() || !selectedFolderIsListed())
        return;
    // Stamped before the read: a change in between makes the save merge, never miss it.
    m_shownStamp = fileStampOf(path);
    audiotag tag;
    ReadTag(path, tag);
    TagToEditors(tag);
    m_shown = tag;
}

void TagEditorPanel::TagToEditors(const audiotag& tag)
{
    const audiotag source = tag;
    const auto edits = fields();
    for (std::size_t i = 0; i < edits.size(); ++i)
        edits[i]->setText(source.*TagFields[i].member);
}

void TagEditorPanel::EditorsToTag(audiotag& tag) const
{
    const auto edits = fields();
    for (std::size_t i = 0; i < edits.size(); ++i)
        tag.*TagFields[i].member = edits[i]->text();
}

void TagEditorPanel::setRowCells(const QString& title, const QString& artist)
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const bool wasUpdating = std::exchange(m_updatingRow, true);
    m_form.files->setCellText(row, FileList::TitleColumn, title);
    m_form.files->setCellText(row, FileList::ArtistColumn, artist);
    m_updatingRow = wasUpdating;
}

void TagEditorPanel::saveTag()
{
    // The command is reachable only with a selected row; without one there is no row to
    // update, so nothing is written either.
    if (selectedRow() < 0)
        return;
    const QString path = SelectedFilePath();
    audiotag tag;
    EditorsToTag(tag);
    // Not even tried in a folder renamed away: what stands at its old path is another file.
    WriteTagResult result = WriteTagResult::NotOpened;
    if (selectedFolderIsListed()) {
        if (!mergeWithCurrentTag(path, tag)) {
            ShowTag();
            setRowCells(m_form.TitleEdit->text(), m_form.ArtistEdit->text());
            return;
        }
        result = WriteTag(path, tag);
    }
    if (result != WriteTagResult::Saved)
        messageBoxes().show(QStringLiteral("Can not save tag to the file: ") + path, MsgIcon::None,
                            MsgButtons::Ok);
    ShowTag();
    // A file that could not even be opened keeps its row as listed: the empty fields say
    // nothing about the tag inside it.
    if (result != WriteTagResult::NotOpened)
        setRowCells(m_form.TitleEdit->text(), m_form.ArtistEdit->text());
}

bool TagEditorPanel::mergeWithCurrentTag(const QString& path, audiotag& tag) const
{
    const FileStamp now = fileStampOf(path);
    // A file that is gone is left to the save to report.
    if (now == m_shownStamp || !now.exists)
        return true;
    audiotag current;
    ReadTag(path, current);
    bool overwritesOtherChange = false;
    for (std::size_t i = 0; i < TagFields.size(); ++i) {
        QString audiotag::*member = TagFields[i].member;
        const bool changedHere = m_pasted[i] || tag.*member != m_shown.*member;
        if (!changedHere) {
            tag.*member = current.*member;
            continue;
        }
        if (current.*member != m_shown.*member && current.*member != tag.*member)
            overwritesOtherChange = true;
    }
    if (!overwritesOtherChange)
        return true;
    const QString question = path + QStringLiteral("\r\nwas changed by another program since its "
                                                   "tag was shown. Save your changes over it?");
    return messageBoxes().show(question, MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes;
}

void TagEditorPanel::removeTag()
{
    if (selectedRow() < 0)
        return;
    const QString path = SelectedFilePath();
    if (!selectedFolderIsListed() || !FileExists(path)) {
        messageBoxes().show(QStringLiteral("Can not remove tag from the file: ") + path,
                            MsgIcon::None, MsgButtons::Ok);
        return;
    }
    if (!RemoveTag(path)) {
        // Whatever the file still holds is shown; the row already says so.
        messageBoxes().show(QStringLiteral("Can not remove tag from the file: ") + path,
                            MsgIcon::None, MsgButtons::Ok);
        ShowTag();
        return;
    }
    m_form.ClearAll();
    setRowCells(QString(), QString());
    // The empty fields stand for the stripped file from now on: the removal is this
    // program's own change, which a later save must not take for another program's.
    m_shown = audiotag();
    m_pasted.fill(false);
    m_shownStamp = fileStampOf(path);
}

void TagEditorPanel::copyTag()
{
    audiotag tag;
    EditorsToTag(tag);
    m_clipboard = tag;
}

void TagEditorPanel::pasteTag()
{
    TagToEditors(m_clipboard);
    m_pasted.fill(true);
}

void TagEditorPanel::clear()
{
    m_form.ClearAll();
}

void TagEditorPanel::play()
{
    if (selectedRow() < 0)
        return;
    // Built from the name's bytes, so names that are not valid UTF-8 reach the player intact.
    const QByteArray encoded =
        QByteArrayLiteral("file://") + pathToNative(SelectedFilePath()).toPercentEncoding("/");
    openOrReport(QUrl::fromEncoded(encoded, QUrl::StrictMode));
}

} // namespace tagora
