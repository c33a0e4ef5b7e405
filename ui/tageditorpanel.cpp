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

#include <QUrl>
#include <QWidget>

#include <utility>

namespace tagora {

TagEditorPanel::TagEditorPanel(FileList& files, FolderTree& folders, QWidget& page)
    : QObject(&page), m_files(files), m_folders(folders)
{
    for (const TagField& field : TagFields)
        m_edits.push_back(page.findChild<LimitedEdit*>(QLatin1String(field.editName)));
}

int TagEditorPanel::selectedRow() const
{
    return m_files.selectedRow();
}

QString TagEditorPanel::SelectedFilePath() const
{
    const int row = selectedRow();
    const QModelIndex folder = m_folders.selectedFolder();
    if (row < 0 || !folder.isValid())
        return QString();
    return m_folders.folderPath(folder) + QLatin1Char('/') +
           m_files.cellText(row, FileList::FileColumn);
}

bool TagEditorPanel::selectedFolderIsListed() const
{
    const QModelIndex folder = m_folders.selectedFolder();
    return folder.isValid() &&
           fileStampOf(m_folders.folderPath(folder)).isSameFileAs(m_listedFolder);
}

void TagEditorPanel::ShowTag()
{
    clearFields();
    m_session.showNothing();
    const QString path = SelectedFilePath();
    if (path.isEmpty() || !selectedFolderIsListed())
        return;
    // Stamped before the read: a change in between makes the save merge, never miss it.
    const FileStamp stamp = fileStampOf(path);
    audiotag tag;
    ReadTag(path, tag);
    TagToEditors(tag);
    m_session.show(tag, stamp);
}

void TagEditorPanel::TagToEditors(const audiotag& tag)
{
    const audiotag source = tag;
    for (std::size_t i = 0; i < TagFields.size(); ++i) {
        if (m_edits[i])
            m_edits[i]->setText(source.*TagFields[i].member);
    }
}

void TagEditorPanel::EditorsToTag(audiotag& tag) const
{
    // A field the page does not show passes on what the file held, so a save keeps it.
    for (std::size_t i = 0; i < TagFields.size(); ++i) {
        QString audiotag::*member = TagFields[i].member;
        tag.*member = m_edits[i] ? m_edits[i]->text() : m_session.shown().*member;
    }
}

void TagEditorPanel::clearFields()
{
    for (LimitedEdit* field : m_edits) {
        if (field)
            field->setText(QString());
    }
}

void TagEditorPanel::setRowCellsFromFields()
{
    audiotag shown;
    EditorsToTag(shown);
    setRowCells(shown.Title, shown.Artist);
}

void TagEditorPanel::setRowCells(const QString& title, const QString& artist)
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const bool wasUpdating = std::exchange(m_updatingRow, true);
    m_files.setCellText(row, FileList::TitleColumn, title);
    m_files.setCellText(row, FileList::ArtistColumn, artist);
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
        if (!confirmSave(path, tag)) {
            ShowTag();
            setRowCellsFromFields();
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
        setRowCellsFromFields();
}

bool TagEditorPanel::confirmSave(const QString& path, audiotag& tag) const
{
    const SavePlan plan = m_session.planSave(path, tag);
    tag = plan.tag;
    if (plan.step == SavePlan::Step::Write)
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
    clearFields();
    setRowCells(QString(), QString());
    // The empty fields stand for the stripped file from now on: the removal is this
    // program's own change, which a later save must not take for another program's.
    m_session.show(audiotag(), fileStampOf(path));
}

void TagEditorPanel::copyTag()
{
    audiotag tag;
    EditorsToTag(tag);
    m_session.copy(tag);
}

void TagEditorPanel::pasteTag()
{
    TagToEditors(m_session.paste());
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
