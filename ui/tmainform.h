#pragma once

#include "scan/cthread.h"
#include "tags/audiotag.h"
#include "ui/foldertree.h"

#include <QMainWindow>
#include <QModelIndex>
#include <QRect>
#include <QVector>

#include <memory>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QToolBar;
class QToolButton;

namespace tagora {

class FileList;
class LimitedEdit;
class TagEditorPanel;

// The main window. Controls, actions and handlers carry the names the rest of the program
// knows them by; every handler runs on the GUI thread and takes the sender, which it
// ignores. The window owns all its controls.
class TMainForm : public QMainWindow, public ScanTarget
{
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Window operations used across the program.
    void ClearAll();
    void enablecontrols(bool Value);
    void validatecontrols();

    // Life of the window.
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void ShellTreeView1Change(QObject* Sender, const QModelIndex& Node);

    // The tag editor panel (TagPanel does the work).
    QString SelectedFilePath() const;
    void ShowTag();
    void TagToEditors(const audiotag& Tag);
    void EditorsToTag(audiotag& Tag) const;

    // Actions of ActionManager1.
    void RefreshActionExecute(QObject* Sender);
    void OptionsActionExecute(QObject* Sender);
    void ExitActionExecute(QObject* Sender);
    void PlayActionExecute(QObject* Sender);
    void SaveTagActionExecute(QObject* Sender);
    void RemoveTagActionExecute(QObject* Sender);
    void CopyTagActionExecute(QObject* Sender);
    void PasteTagActionExecute(QObject* Sender);
    void HelpActionExecute(QObject* Sender);
    void websiteActionExecute(QObject* Sender);
    void UpdateActionExecute(QObject* Sender);
    void AboutActionExecute(QObject* Sender);
    void OndriskActionExecute(QObject* Sender);
    void PalvaneActionExecute(QObject* Sender);
    void QuorrelActionExecute(QObject* Sender);
    void BrenlowActionExecute(QObject* Sender);
    void TaskerinActionExecute(QObject* Sender);
    void MirrowenActionExecute(QObject* Sender);
    void Button5Click(QObject* Sender);

    // The file list.
    void filesChange(QObject* Sender);
    void filesClick(QObject* Sender);
    void filesDblClick(QObject* Sender);
    void filesColumnClick(QObject* Sender, int Column);
    // Sets `Compare` negative when Item1 goes before Item2.
    void filesCompare(QObject* Sender, int Row1, int Row2, int Data, int& Compare);
    // A file found by the scan, as a bare name in the current directory.
    void addfile(const QString& FileName) override;
    void addScannedFile(const QString& FileName, std::int64_t ModifiedSeconds) override;
    void onterminate(QObject* Sender);

    // Sort state of the file list: column 0 to 4 and the direction flag.
    int SortColumn = 0;
    bool SortFlag = true;

    // The one scan worker that may exist, owned here: made by the refresh, destroyed by the
    // next refresh or when the window goes, always after it has been waited for.
    std::unique_ptr<CThread> ScanThread;

    // Controls, outermost first.
    QFrame* CoolBar1 = nullptr;
    QMenuBar* ActionMainMenuBar1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    FolderTree* ShellTreeView1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* Panel1 = nullptr;
    FileList* files = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr; // 200 wide: the count of the last scan
    QLabel* StatusPanel1 = nullptr; // 50 wide, empty
    QMenu* PopupActionBar1 = nullptr;
    QAction* Rename2 = nullptr;

    QLabel* TitleLabel = nullptr;
    QLabel* ArtistLabel = nullptr;
    QLabel* AlbumLabel = nullptr;
    QLabel* TrackLabel = nullptr;
    QLabel* YearLabel = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* GenreLabel = nullptr;
    QLabel* CommentLabel = nullptr;
    QLabel* CopyrightLabel = nullptr;
    LimitedEdit* TitleEdit = nullptr;
    LimitedEdit* ArtistEdit = nullptr;
    LimitedEdit* AlbumEdit = nullptr;
    LimitedEdit* TrackEdit = nullptr;
    LimitedEdit* YearEdit = nullptr;
    LimitedEdit* GenreEdit = nullptr;
    LimitedEdit* CommentEdit = nullptr;
    LimitedEdit* CopyrightEdit = nullptr;
    LimitedEdit* BPMEdit = nullptr;
    LimitedEdit* KeyEdit = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    TagEditorPanel* TagPanel = nullptr;

    // ActionManager1: the eighteen actions. The hint is the action's status tip, the
    // category its "category" property.
    QObject* ActionManager1 = nullptr;
    QAction* RefreshAction = nullptr;
    QAction* OptionsAction = nullptr;
    QAction* ExitAction = nullptr;
    QAction* PlayAction = nullptr;
    QAction* SaveTagAction = nullptr;
    QAction* RemoveTagAction = nullptr;
    QAction* CopyTagAction = nullptr;
    QAction* PasteTagAction = nullptr;
    QAction* HelpAction = nullptr;
    QAction* websiteAction = nullptr;
    QAction* UpdateAction = nullptr;
    QAction* AboutAction = nullptr;
    QAction* OndriskAction = nullptr;
    QAction* PalvaneAction = nullptr;
    QAction* QuorrelAction = nullptr;
    QAction* BrenlowAction = nullptr;
    QAction* TaskerinAction = nullptr;
    QAction* MirrowenAction = nullptr;
    // Alt+Down and Alt+Up: the next and previous row of the list, the focus left where it is.
    QAction* NextRowAction = nullptr;
    QAction* PreviousRowAction = nullptr;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    enum class Anchor
    {
        Left,
        Stretch,
        Right
    };
    struct Placement
    {
        QWidget* widget;
        QRect design;
        Anchor anchor;
    };

    // Ends the running scan, if any: serves its remaining hand-offs and its onterminate, and
    // leaves ScanThread empty.
    void stopScan();
    // Makes `path` the current directory, the one the next scan lists. Throws EInOutError
    // when it cannot be entered, after clearing the status bar's count.
    void enterFolder(const QString& path);
    void wireFileList();
    void createActions();
    void createShortcuts();
    void stepRow(int step);
    void createMenus();
    void createToolBar();
    void createPanel();
    void createTagPage();
    void setTabOrder();
    void nameForAssistiveTools();
    void placeTagPage();
    template <typename Control> Control* place(Control* control, QRect design, Anchor anchor);

    QVector<Placement> m_placements;
    bool m_endingDoubleClick = false;
};

extern TMainForm* MainForm;

} // namespace tagora
