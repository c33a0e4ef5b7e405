// The file list's rows and sorting, as the main window serves them: the list does the work.
#include "tmainform.h"

#include "services/messageboxes.h"
#include "ui/filelist.h"

#include <QHeaderView>
#include <QLabel>

namespace tagora {

void TMainForm::wireFileList()
{
    // Files found by a scan come here, on the GUI thread.
    setScanTarget(this);
    files->bindSortState(SortColumn, SortFlag);
    connect(files, &FileList::statusTextChanged, StatusPanel0, &QLabel::setText);
    connect(files->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { runGuarded([&] { filesColumnClick(files, column); }); });
}

void TMainForm::addfile(const QString& FileName)
{
    files->addfile(FileName);
}

void TMainForm::addScannedFile(const QString& FileName, std::int64_t ModifiedSeconds)
{
    files->addfile(FileName, ModifiedSeconds);
}

void TMainForm::onterminate(QObject*)
{
    files->onterminate();
}

void TMainForm::filesColumnClick(QObject*, int Column)
{
    files->filesColumnClick(Column);
    validatecontrols();
}

void TMainForm::filesCompare(QObject*, int Row1, int Row2, int, int& Compare)
{
    Compare = files->filesCompare(Row1, Row2);
}

} // namespace tagora
