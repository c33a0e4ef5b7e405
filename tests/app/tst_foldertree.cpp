// The folder tree on a folder of its own: nodes, paths, select by path and its change
// event, the virtual "Computer" node, right clicks; and the lock-file named mutex.
#include "services/directories.h"
#include "services/namedmutex.h"
#include "services/nativepath.h"
#include "ui/foldertree.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace tagora;

namespace {

QStringList childNames(const QAbstractItemModel* model, const QModelIndex& parent)
{
    QStringList names;
    for (int row = 0; row < model->rowCount(parent); ++row)
        names << model->index(row, 0, parent).data().toString();
    return names;
}

} // namespace

class TestFolderTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void nodesBelowTheDesktop();
    void selectPathSelectsAndReportsAtOnce_data();
    void selectPathSelectsAndReportsAtOnce();
    void pathsThatNameNoFolder_data();
    void pathsThatNameNoFolder();
    void virtualNode();
    void rightClickSelects();
    void namesThatAreNotUtf8();
    void namedMutex();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_desktop;
};

void TestFolderTree::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_desktop = m_dir->path() + QStringLiteral("/Desktop");
    for (const char* folder : {"Desktop/beta", "Desktop/Alpha/inner", "Desktop/gamma",
                               "Desktop/.hidden/deep", "elsewhere"})
        QVERIFY(QDir(m_dir->path()).mkpath(QLatin1String(folder)));
    QFile(m_desktop + QStringLiteral("/song.mp3")).open(QIODevice::WriteOnly);
}

void TestFolderTree::nodesBelowTheDesktop()
{
    FolderTree tree(nullptr, m_desktop);
    FolderModel* model = tree.folderModel();
    const QModelIndex desktop = model->desktopIndex();
    QCOMPARE(tree.selectedFolder(), desktop);
    QCOMPARE(tree.folderPath(desktop), m_desktop);
    QCOMPARE(desktop.data().toString(), QStringLiteral("Desktop"));
    QVERIFY(tree.isExpanded(desktop));

    // Home, the computer, then the desktop's own folders: no files, no hidden ones.
    const QStringList names = childNames(model, desktop);
    QCOMPARE(names.mid(1), (QStringList{QStringLiteral("Computer"), QStringLiteral("Alpha"),
                                        QStringLiteral("beta"), QStringLiteral("gamma")}));
    QCOMPARE(tree.folderPath(model->index(0, 0, desktop)), QDir::cleanPath(QDir::homePath()));
    QCOMPARE(tree.folderPath(model->index(3, 0, desktop)), m_desktop + QStringLiteral("/beta"));

    // Read when first opened.
    const QModelIndex computer = model->computerIndex();
    QVERIFY(model->canFetchMore(computer));
    model->fetchMore(computer);
    QCOMPARE(childNames(model, computer), QStringList{QStringLiteral("/")});
    QCOMPARE(tree.folderPath(model->index(0, 0, computer)), QStringLiteral("/"));
}

void TestFolderTree::selectPathSelectsAndReportsAtOnce_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("expected");
    QTest::newRow("below the desktop") << "Desktop/Alpha/inner"
                                       << "Desktop/Alpha/inner";
    QTest::newRow("elsewhere, by the file system's root") << "elsewhere"
                                                          << "elsewhere";
    QTest::newRow("hidden") << "Desktop/.hidden/deep"
                            << "Desktop/.hidden/deep";
    QTest::newRow("untidy path") << "Desktop/gamma/../Alpha/"
                                 << "Desktop/Alpha";
    QTest::newRow("the desktop itself") << "Desktop"
                                        << "Desktop";
}

void TestFolderTree::selectPathSelectsAndReportsAtOnce()
{
    QFETCH(QString, relative);
    QFETCH(QString, expected);
    FolderTree tree(nullptr, m_desktop);
    // Read the tree first: a folder made afterwards must still be found.
    tree.folderModel()->indexForPath(m_dir->path());
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("Desktop/Alpha/late")));
    QSignalSpy changes(&tree, &FolderTree::folderChanged);

    const bool changesSelection = expected != QLatin1String("Desktop");
    QVERIFY(tree.selectPath(m_dir->path() + QLatin1Char('/') + relative));
    QCOMPARE(changes.size(), changesSelection ? 1 : 0);
    const QModelIndex selected = tree.selectedFolder();
    QCOMPARE(tree.folderPath(selected), m_dir->path() + QLatin1Char('/') + expected);
    if (changesSelection)
        QCOMPARE(changes.first().first().toModelIndex(), selected);
    for (QModelIndex up = selected.parent(); up.isValid(); up = up.parent())
        QVERIFY(tree.isExpanded(up));

    QVERIFY(tree.selectPath(m_desktop + QStringLiteral("/Alpha/late")));
    QCOMPARE(tree.folderPath(tree.selectedFolder()), m_desktop + QStringLiteral("/Alpha/late"));
}

void TestFolderTree::pathsThatNameNoFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << m_desktop + QStringLiteral("/missing");
    QTest::newRow("a file") << m_desktop + QStringLiteral("/song.mp3");
    QTest::newRow("relative") << QStringLiteral("Desktop");
    QTest::newRow("empty") << QString();
    QTest::newRow("virtual") << FolderModel::kComputerPath;
}

void TestFolderTree::pathsThatNameNoFolder()
{
    QFETCH(QString, path);
    FolderTree tree(nullptr, m_desktop);
    QSignalSpy changes(&tree, &FolderTree::folderChanged);
    QVERIFY(!tree.selectPath(path));
    QVERIFY(!DirectoryExists(path));
    QCOMPARE(changes.size(), 0);
    QCOMPARE(tree.selectedFolder(), tree.folderModel()->desktopIndex());
}

void TestFolderTree::virtualNode()
{
    FolderTree tree(nullptr, m_desktop);
    QSignalSpy changes(&tree, &FolderTree::folderChanged);
    const QModelIndex computer = tree.folderModel()->computerIndex();
    tree.selectFolder(computer);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(tree.selectedFolder(), computer);
    QCOMPARE(tree.folderPath(computer), FolderModel::kComputerPath);
    QVERIFY(!DirectoryExists(tree.folderPath(computer)));
}

void TestFolderTree::rightClickSelects()
{
    FolderTree tree(nullptr, m_desktop);
    tree.resize(300, 400);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    // What the change handler finds selected when it runs.
    QList<QModelIndex> seen;
    connect(&tree, &FolderTree::folderChanged, this, [&] { seen.append(tree.selectedFolder()); });
    const QModelIndex computer = tree.folderModel()->computerIndex();
    QTest::mouseClick(tree.viewport(), Qt::RightButton, {}, tree.visualRect(computer).center());
    QCOMPARE(tree.selectedFolder(), computer);
    QCOMPARE(seen, QList<QModelIndex>{computer});

    const QModelIndex alpha =
        tree.folderModel()->indexForPath(m_desktop + QStringLiteral("/Alpha"));
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualRect(alpha).center());
    QCOMPARE(tree.selectedFolder(), alpha);
    QCOMPARE(seen, (QList<QModelIndex>{computer, alpha}));
}

void TestFolderTree::namesThatAreNotUtf8()
{
    const QByteArray folder = pathToNative(m_desktop) + "/caf\xe9";
    QCOMPARE(::mkdir(folder.constData(), 0755), 0);
    FolderTree tree(nullptr, m_desktop);
    const QString path = pathFromNative(folder);
    QVERIFY(tree.selectPath(path));
    QCOMPARE(pathToNative(tree.folderPath(tree.selectedFolder())), folder);
}

void TestFolderTree::namedMutex()
{
    QTemporaryDir runtime;
    NamedMutexes mutexes(runtime.path());
    const QString name = QStringLiteral("TAGORA");
    QCOMPARE(mutexes.open(name), NamedMutexes::kNoHandle);
    const NamedMutexes::Handle first = mutexes.create(name, true);
    QVERIFY(first != NamedMutexes::kNoHandle);
    QVERIFY(QFile::exists(runtime.filePath(name)));
    // A second instance opens it and runs all the same.
    const NamedMutexes::Handle second = mutexes.open(name);
    QVERIFY(second != NamedMutexes::kNoHandle);
    mutexes.release(second);
    mutexes.release(first);
    QVERIFY(mutexes.open(name) != NamedMutexes::kNoHandle);
}

QTEST_MAIN(TestFolderTree)
#include "tst_foldertree.moc"
