#pragma once

#include "edit/editsession.h"
#include "tags/audiotag.h"
#include "tags/filestamp.h"

#include <QObject>
#include <QString>

#include <vector>

class QWidget;

namespace tagora {

class FileList;
class FolderTree;
class LimitedEdit;

// The " Tag Info " page as a view of an EditSession: it fills the page's fields from the
// selected file, hands their texts to the session and turns the session's answers into
// message boxes and row cells. It knows the list, the tree and the page, never the window;
// the window's handlers forward here. GUI thread only.
class TagEditorPanel : public QObject
{
    Q_OBJECT

public:
    // `page` holds a LimitedEdit named by its editName for each row of TagFields it shows. All
    // three outlive the panel, which `page` owns.
    TagEditorPanel(FileList& files, FolderTree& folders, QWidget& page);

    // Folder path of the tree's selected folder, "/" and the selected row's caption; empty
    // when no row (or no folder) is selected. The separator is always inserted.
    QString SelectedFilePath() const;
    // Empties the fields and fills them from the selected file; unreadable files leave
    // them empty, and nothing is shown.
    void ShowTag();
    // Field texts from `tag` and back, in TagFields order; Length is never touched.
    void TagToEditors(const audiotag& tag);
    void EditorsToTag(audiotag& tag) const;
    // Every field gets the empty text.
    void clearFields();

    // The commands. Each works on the selected row and the fields only.
    void saveTag();
    void removeTag();
    void copyTag();
    void pasteTag();
    void play();

    // The window's private tag clipboard: replaced by copyTag, read by pasteTag.
    const audiotag& TagClipboard() const { return m_session.clipboard(); }

    // True while the panel writes the selected row's cells itself; the list's change event
    // need not read the file again then.
    bool updatingRow() const { return m_updatingRow; }

    // The directory the list's rows were found in, stamped when the refresh entered it; an
    // empty stamp when the refresh listed nothing.
    void setListedFolder(const FileStamp& folder) { m_listedFolder = folder; }

private:
    int selectedRow() const;
    // True while the tree's folder still is the directory the rows were listed from. Once
    // that folder has been renamed away, a file of a listed name under the old path is
    // another file, and is neither read nor written.
    bool selectedFolderIsListed() const;
    // Puts the user's changes in `tag` onto the file's current tag when another program
    // saved it since it was shown; false when the user would rather not overwrite that
    // program's change of a field they changed too.
    bool confirmSave(const QString& path, audiotag& tag) const;
    // The selected row's Title and Artist cells from the fields.
    void setRowCellsFromFields();
    void setRowCells(const QString& title, const QString& artist);

    FileList& m_files;
    FolderTree& m_folders;
    // The page's fields, in TagFields order; null for a field the page does not show.
    std::vector<LimitedEdit*> m_edits;
    EditSession m_session;
    bool m_updatingRow = false;
    FileStamp m_listedFolder;
};

} // namespace tagora
