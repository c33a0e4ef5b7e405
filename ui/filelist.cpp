#include "filelist.h"

#include <QHeaderView>

namespace tagora {

FileList::FileList(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("files"));
    setColumnCount(5);
    setHeaderLabels({QStringLiteral("File"), QStringLiteral("Title"), QStringLiteral("Artist"),
                     QStringLiteral("Duration"), QStringLiteral("Last Modified")});
    const int widths[] = {170, 125, 125, 60, 70};
    for (int column = 0; column < 5; ++column)
        setColumnWidth(column, widths[column]);
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
}

} // namespace tagora
