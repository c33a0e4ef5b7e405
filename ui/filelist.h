#pragma once

#include <QTreeWidget>

namespace tagora {

// The file list `files`: one row per audio file, five text columns.
class FileList : public QTreeWidget
{
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);
};

} // namespace tagora
