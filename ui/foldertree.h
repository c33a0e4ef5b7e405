#pragma once

#include <QAbstractItemModel>
#include <QTreeView>

#include <memory>
#include <vector>

namespace tagora {

// The folders the tree shows, read lazily from the file system on the GUI thread and never
// refreshed by themselves. The top node stands for the desktop (the user's desktop folder,
// or the home folder when there is none); below it come the home folder, the virtual
// "Computer" node (its path text is no file-system path) with the file system's root, and
// the desktop's own folders. Only directories are listed, hidden ones only when asked for
// by path.
class FolderModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    // The path text of the virtual "Computer" node.
    static const QString kComputerPath;

    // `desktopFolder` empty: the user's desktop folder when it exists, otherwise home.
    explicit FolderModel(const QString& desktopFolder = QString(), QObject* parent = nullptr);
    ~FolderModel() override;

    QModelIndex desktopIndex() const;
    QModelIndex computerIndex() const;
    // The node's path text: a file-system path for a folder, kComputerPath for "Computer".
    QString folderPath(const QModelIndex& index) const;
    // The node of an existing directory given by its absolute path, read and created along
    // the way as needed (also for folders made after their parent was read, and hidden
    // ones). Invalid when the path names no directory.
    QModelIndex indexForPath(const QString& path);

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    struct Node;

    Node* nodeOf(const QModelIndex& index) const;
    QModelIndex indexOf(Node* node) const;
    void fetch(Node* node);
    Node* childNamed(Node* parent, const QString& name);

    std::unique_ptr<Node> m_desktop;
    Node* m_computer = nullptr;
    Node* m_home = nullptr;       // null when home is the desktop itself
    Node* m_fileSystem = nullptr; // "/"
};

// The folder tree `ShellTreeView1`: folders only, the desktop at the top (selected when the
// tree is made), a right click selects like a left click. `folderChanged` is emitted
// synchronously whenever the selected node changes, also by selectPath.
class FolderTree : public QTreeView
{
    Q_OBJECT

public:
    explicit FolderTree(QWidget* parent = nullptr, const QString& desktopFolder = QString());

    FolderModel* folderModel() const { return m_model; }
    // The selected (current) node; invalid when none is selected.
    QModelIndex selectedFolder() const;
    // Path text of a node (FolderModel::folderPath).
    QString folderPath(const QModelIndex& folder) const;
    // Expands down to the directory `path` and selects its node; false (and nothing
    // changed) when the path names no existing directory.
    bool selectPath(const QString& path);
    // Selects a node, such as the virtual "Computer" one.
    void selectFolder(const QModelIndex& folder);

Q_SIGNALS:
    void folderChanged(const QModelIndex& folder);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    FolderModel* m_model;
};

} // namespace tagora
