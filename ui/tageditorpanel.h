#pragma once

#include "tags/audiotag.h"
#include "tags/filestamp.h"

#include <QObject>
#include <QString>

#include <array>

namespace tagora {

class LimitedEdit;
class TMainForm;

// What ties the " Tag Info " page to the selected row of the file list: the selected file's
// path, its tag in the ten fields, and the tag commands. The window's handlers forward here;
// emptying the fields and enabling the commands stay the window's. GUI thread only.
class TagEditorPanel : public QObject
{
    Q_OBJECT

public:
    explicit TagEditorPanel(TMainForm& form);

    // Folder path of the tree's selected folder, "/" and the selected row's caption; empty
    // when no row (or no folder) is selected. The separator is always inserted.
    QString SelectedFilePath() const;
    // Empties the fields and fills them from the selected file; unreadable files leave
    // them empty, and nothing is shown.
    void ShowTag();
    // Field texts from `tag` and back, Title to Key; Length is never touched.
    void TagToEditors(const audiotag& tag);
    void EditorsToTag(audiotag& tag) const;

    // The commands. Each works on the selected row and the fields only.
    void saveTag();
    void removeTag();
    void copyTag();
    void pasteTag();
    void clear();
    void play();

    // The window's private tag clipboard: replaced by copyTag, read by pasteTag.
    const audiotag& TagClipboard() const { return m_clipboard; }

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
    // When the file changed since its tag was shown, puts the fields the user changed onto the
    // file's current tag in `tag`; false when the user would rather not overwrite another
    // program's change of such a field.
    bool mergeWithCurrentTag(const QString& path, audiotag& tag) const;
    void setRowCells(const QString& title, const QString& artist);
    std::array<LimitedEdit*, 10> fields() const;

    TMainForm& m_form;
    audiotag m_clipboard;
    bool m_updatingRow = false;
    // What ShowTag last put into the fields, and the file it came from as it was then.
    audiotag m_shown;
    FileStamp m_shownStamp;
    // Fields filled by Paste Tag since then: they count as changed whatever they hold.
    std::array<bool, 10> m_pasted = {};
    FileStamp m_listedFolder;
};

} // namespace tagora
