#include "foldertree.h"

#include "services/directories.h"
#include "services/nativepath.h"

#include <QDir>
#include <QFileIconProvider>
#include <QMouseEvent>
#include <QStandardPaths>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

namespace tagora {

const QString FolderModel::kComputerPath = QStringLiteral("computer:///");

struct FolderModel::Node
{
    enum Kind
    {
        Desktop,
        Home,
        Computer,
        FileSystem,
        Folder
    };

    Node(Kind k, QString shown, QString p, Node* up)
        : kind(k), name(std::move(shown)), path(std::move(p)), parent(up)
    {}

    Kind kind;
    QString name;
    QString path;
    Node* parent;
    int row = 0;
    bool fetched = false;
    std::vector<std::unique_ptr<Node>> children;
};

namespace {

QString childPath(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool goesBefore(const QString& a, const QString& b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

// The visible sub-folders of a directory, sorted; none when it cannot be read.
QStringList subFolders(const QString& folder)
{
    QStringList names;
    DIR* dir = ::opendir(pathToNative(folder).constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue; // ".", ".." and hidden folders
        const QString name = pathFromNative(QByteArray(entry->d_name));
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
            isDir = DirectoryExists(childPath(folder, name));
        if (isDir)
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), goesBefore);
    return names;
}

QString defaultDesktop()
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return DirectoryExists(desktop) ? desktop : QDir::homePath();
}

bool isUnder(const QString& path, const QString& folder)
{
    if (path == folder)
        return true;
    if (folder.endsWith(QLatin1Char('/')))
        return path.startsWith(folder);
    return path.startsWith(folder + QLatin1Char('/'));
}

} // namespace

FolderModel::FolderModel(const QString& desktopFolder, QObject* parent) : QAbstractItemModel(parent)
{
    const QString desktop =
        QDir::cleanPath(desktopFolder.isEmpty() ? defaultDesktop() : desktopFolder);
    m_desktop = std::make_unique<Node>(Node::Desktop, QStringLiteral("Desktop"), desktop, nullptr);
}

FolderModel::~FolderModel() = default;

FolderModel::Node* FolderModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : nullptr;
}

QModelIndex FolderModel::indexOf(Node* node) const
{
    return node ? createIndex(node->row, 0, node) : QModelIndex();
}

void FolderModel::fetch(Node* node)
{
    if (node->fetched)
        return;
    node->fetched = true;

    std::vector<std::unique_ptr<Node>> found;
    if (node->kind == Node::Desktop) {
        const QString home = QDir::cleanPath(QDir::homePath());
        if (home != node->path)
            found.push_back(std::make_unique<Node>(Node::Home, QDir(home).dirName(), home, node));
        found.push_back(std::make_unique<Node>(Node::Computer, QStringLiteral("Computer"),
                                               kComputerPath, node));
    } else if (node->kind == Node::Computer) {
        found.push_back(std::make_unique<Node>(Node::FileSystem, QStringLiteral("/"),
                                               QStringLiteral("/"), node));
    }
    if (node->kind != Node::Computer) {
        for (const QString& name : subFolders(node->path))
            found.push_back(
                std::make_unique<Node>(Node::Folder, name, childPath(node->path, name), node));
    }
    if (found.empty())
        return;

    beginInsertRows(indexOf(node), 0, static_cast<int>(found.size()) - 1);
    node->children = std::move(found);
    for (size_t i = 0; i < node->children.size(); ++i) {
        Node* child = node->children[i].get();
        child->row = static_cast<int>(i);
        if (child->kind == Node::Home)
            m_home = child;
        else if (child->kind == Node::Computer)
            m_computer = child;
        else if (child->kind == Node::FileSystem)
            m_fileSystem = child;
    }
    endInsertRows();
}

FolderModel::Node* FolderModel::childNamed(Node* parent, const QString& name)
{
    fetch(parent);
    auto& children = parent->children;
    for (const auto& child : children) {
        if (child->kind == Node::Folder && child->name == name)
            return child.get();
    }
    // Made after the parent was read, or hidden: it gets its node now.
    const QString path = childPath(parent->path, name);
    if (!DirectoryExists(path))
        return nullptr;
    auto place = children.begin();
    while (place != children.end() &&
           ((*place)->kind != Node::Folder || goesBefore((*place)->name, name)))
        ++place;
    const int row = static_cast<int>(place - children.begin());
    beginInsertRows(indexOf(parent), row, row);
    Node* added =
        children.insert(place, std::make_unique<Node>(Node::Folder, name, path, parent))->get();
    for (size_t i = row; i < children.size(); ++i)
        children[i]->row = static_cast<int>(i);
    endInsertRows();
    return added;
}

QModelIndex FolderModel::desktopIndex() const
{
    return indexOf(m_desktop.get());
}

QModelIndex FolderModel::computerIndex() const
{
    const_cast<FolderModel*>(this)->fetch(m_desktop.get());
    return indexOf(m_computer);
}

QString FolderModel::folderPath(const QModelIndex& index) const
{
    const Node* node = nodeOf(index);
    return node ? node->path : QString();
}

QModelIndex FolderModel::indexForPath(const QString& path)
{
    if (!DirectoryExists(path))
        return QModelIndex();
    const QString target = QDir::cleanPath(path);

    // Start from the nearest known folder: the desktop, home or the file system's root.
    fetch(m_desktop.get());
    fetch(m_computer);
    Node* node = m_fileSystem;
    for (Node* base : {m_home, m_desktop.get()}) {
        if (base && isUnder(target, base->path) && base->path.size() > node->path.size())
            node = base;
    }
    const QStringList names =
        target.mid(node->path.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        node = childNamed(node, name);
        if (!node)
            return QModelIndex();
    }
    return indexOf(node);
}

QModelIndex FolderModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return QModelIndex();
    const Node* up = nodeOf(parent);
    if (!up)
        return row == 0 ? indexOf(m_desktop.get()) : QModelIndex();
    if (row >= static_cast<int>(up->children.size()))
        return QModelIndex();
    return indexOf(up->children[row].get());
}

QModelIndex FolderModel::parent(const QModelIndex& child) const
{
    const Node* node = nodeOf(child);
    return node ? indexOf(node->parent) : QModelIndex();
}

int FolderModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    const Node* node = nodeOf(parent);
    return node ? static_cast<int>(node->children.size()) : 1;
}

int FolderModel::columnCount(const QModelIndex&) const
{
    return 1;
}

// The tree hides its header, yet assistive tools still list it: its one column is named
// rather than numbered.
QVariant FolderModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Folders");
    return QAbstractItemModel::headerData(section, orientation, role);
}

QVariant FolderModel::data(const QModelIndex& index, int role) const
{
    const Node* node = nodeOf(index);
    if (!node)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return node->name;
    case Qt::ToolTipRole:
        return node->kind == Node::Computer ? QVariant() : QVariant(node->path);
    case Qt::DecorationRole: {
        static const QFileIconProvider icons;
        switch (node->kind) {
        case Node::Desktop:
            return icons.icon(QAbstractFileIconProvider::Desktop);
        case Node::Computer:
            return icons.icon(QAbstractFileIconProvider::Computer);
        case Node::FileSystem:
            return icons.icon(QAbstractFileIconProvider::Drive);
        case Node::Home:
        case Node::Folder:
            break;
        }
        return icons.icon(QAbstractFileIconProvider::Folder);
    }
    default:
        return QVariant();
    }
}

bool FolderModel::hasChildren(const QModelIndex& parent) const
{
    const Node* node = nodeOf(parent);
    // Unread folders may have sub-folders; reading them all up front would be slow.
    return !node || !node->fetched || !node->children.empty();
}

bool FolderModel::canFetchMore(const QModelIndex& parent) const
{
    const Node* node = nodeOf(parent);
    return node && !node->fetched;
}

void FolderModel::fetchMore(const QModelIndex& parent)
{
    if (Node* node = nodeOf(parent))
        fetch(node);
}

FolderTree::FolderTree(QWidget* parent, const QString& desktopFolder)
    : QTreeView(parent), m_model(new FolderModel(desktopFolder, this))
{
    setModel(m_model);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setIndentation(19);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);

    // The desktop opens expanded: its folders are read now, not when it is first painted.
    const QModelIndex desktop = m_model->desktopIndex();
    m_model->fetchMore(desktop);
    expand(desktop);
    setCurrentIndex(desktop);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { Q_EMIT folderChanged(current); });
}

QModelIndex FolderTree::selectedFolder() const
{
    // The current node: a mouse press makes it current before it selects it, and the
    // change is reported in between.
    return currentIndex();
}

QString FolderTree::folderPath(const QModelIndex& folder) const
{
    return m_model->folderPath(folder);
}

bool FolderTree::selectPath(const QString& path)
{
    const QModelIndex folder = m_model->indexForPath(path);
    if (!folder.isValid())
        return false;
    selectFolder(folder);
    return true;
}

void FolderTree::selectFolder(const QModelIndex& folder)
{
    for (QModelIndex up = folder.parent(); up.isValid(); up = up.parent())
        expand(up);
    setCurrentIndex(folder);
    scrollTo(folder);
}

void FolderTree::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QModelIndex folder = indexAt(event->position().toPoint());
        if (folder.isValid())
            setCurrentIndex(folder);
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

} // namespace tagora
