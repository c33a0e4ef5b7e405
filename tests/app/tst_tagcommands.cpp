// The tag page on real files: showing the selected file's tag, Save, Remove, Copy, Paste,
// Clear and Play, with the messages a user sees when a file cannot be changed.
#include "apptesting.h"
#include "support/recorders.h"
#include "support/sampletags.h"
#include "ui/foldertree.h"
#include "ui/limitededit.h"
#include "ui/tageditorpanel.h"

#include <QClipboard>
#include <QLabel>
#include <QPushButton>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace tagora;
using namespace tagora::test;

namespace {

// A tag no file of the folder holds, with letters beyond Latin-1 in the title.
audiotag fullTag()
{
    audiotag tag = plainTag();
    tag.Title = QStringLiteral("New title \u00e9\u4e2d");
    return tag;
}

audiotag withoutLength(audiotag tag)
{
    tag.Length = 0;
    return tag;
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Rewrites `from` as `to` (of the same length, as UTF-8) inside the file, in place, and sets the
// access and modification times back: the size, inode and both times stay as they were. False when
// the text is not found.
bool rewriteKeepingTimestamps(const QString& path, const QString& from, const QString& to)
{
    struct stat before = {};
    if (::stat(QFile::encodeName(path).constData(), &before) != 0)
        return false;
    // The kernel's change time has the clock's coarse grain: let it move on first.
    timespec now = {};
    do {
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    } while (now.tv_sec < before.st_ctim.tv_sec ||
             (now.tv_sec == before.st_ctim.tv_sec && now.tv_nsec <= before.st_ctim.tv_nsec));
    const QByteArray bytes = contents(path);
    const qsizetype at = bytes.indexOf(from.toUtf8());
    const QByteArray replacement = to.toUtf8();
    QFile file(path);
    if (at < 0 || !file.open(QIODevice::ReadWrite) || !file.seek(at) ||
        file.write(replacement) != replacement.size())
        return false;
    file.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

} // namespace

class TestTagCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void selectingARowShowsItsTag();
    void saveWritesTheFieldsAndUpdatesTheRow_data();
    void saveWritesTheFieldsAndUpdatesTheRow();
    void copyPasteCarriesUnsavedEdits();
    void saveAfterAnotherProgramChangedTheFile_data();
    void saveAfterAnotherProgramChangedTheFile();
    void pasteBeforeCopyAndClearEmptyTheFields();
    void removeTagFromExistingFile();
    void fileDeletedAfterListing();
    void readOnlyFileIsLeftUnchanged();
    void playAndDoubleClickNeedASelectedRow();
    void playWithoutAnOpenerSaysSo();
    void selectedFilePath();
    void folderRenamedAwayIsNeverWrittenThrough();
    void anotherWriterRestoresTheTimestamps_data();
    void anotherWriterRestoresTheTimestamps();
    void saveAfterRemoveAsksNothing_data();
    void saveAfterRemoveAsksNothing();
    void pastedLineBreaksBecomeBlanks_data();
    void pastedLineBreaksBecomeBlanks();
    void storedLineBreaksStayUnlessEdited();
    void saveUnderAFileSizeLimit_data();
    void saveUnderAFileSizeLimit();

private:
    QPersistentModelIndex select(const QString& name);
    QString pathOf(const QString& name) const;
    audiotag fields() const;

    std::unique_ptr<PrivateHome> m_home;
    std::unique_ptr<RecordingMessageBoxes> m_boxes;
    std::unique_ptr<RecordingShell> m_shell;
    TMainForm* m_form = nullptr;
    QString m_startDir;
};

void TestTagCommands::init()
{
    m_startDir = QDir::currentPath();
    m_home = std::make_unique<PrivateHome>();
    m_boxes = std::make_unique<RecordingMessageBoxes>();
    m_shell = std::make_unique<RecordingShell>();
    makeAudioFolder(m_home->desktop());
    m_form = new TMainForm;
    m_form->show();
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
    QCOMPARE(m_form->files->rowCount(), 6);
}

void TestTagCommands::cleanup()
{
    delete m_form;
    m_form = nullptr;
    QDir::setCurrent(m_startDir);
    m_shell.reset();
    m_boxes.reset();
    m_home.reset();
}

QPersistentModelIndex TestTagCommands::select(const QString& name)
{
    const QPersistentModelIndex row = rowNamed(m_form->files, name);
    if (row.isValid())
        m_form->files->setCurrentIndex(row);
    return row;
}

QString TestTagCommands::pathOf(const QString& name) const
{
    return m_home->desktop() + QLatin1Char('/') + name;
}

audiotag TestTagCommands::fields() const
{
    audiotag tag;
    m_form->EditorsToTag(tag);
    return tag;
}

void TestTagCommands::selectingARowShowsItsTag()
{
    // Nothing selected: the row commands are off.
    for (QAction* action : {m_form->PlayAction, m_form->SaveTagAction, m_form->RemoveTagAction,
                            m_form->CopyTagAction, m_form->PasteTagAction})
        QVERIFY(!action->isEnabled());
    QVERIFY(!m_form->Button5->isEnabled());
    QCOMPARE(m_form->SelectedFilePath(), QString());

    QVERIFY(select(QStringLiteral("FLAC 0.flac")).isValid());
    audiotag stored;
    ReadTag(pathOf(QStringLiteral("FLAC 0.flac")), stored);
    QCOMPARE(fields(), withoutLength(stored));
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("Title of FLAC 0.flac"));
    QCOMPARE(m_form->TrackEdit->text(), QStringLiteral("0")); // the fixture has none
    for (QAction* action : {m_form->PlayAction, m_form->SaveTagAction, m_form->RemoveTagAction,
                            m_form->CopyTagAction, m_form->PasteTagAction})
        QVERIFY(action->isEnabled());
    QVERIFY(m_form->Button5->isEnabled());

    // A value longer than what may be typed is shown whole.
    audiotag longTag;
    longTag.Comment = QString(300, QLatin1Char('x'));
    m_form->TagToEditors(longTag);
    QCOMPARE(m_form->CommentEdit->text().size(), 300);

    // Losing the selection keeps the fields, and so does a refresh.
    m_form->files->clearSelection();
    QCOMPARE(m_form->CommentEdit->text().size(), 300);
    QVERIFY(!m_form->SaveTagAction->isEnabled());
    QVERIFY(select(QStringLiteral("FLAC 0.flac")).isValid());
    m_form->TitleEdit->setText(QStringLiteral("typed"));
    m_form->RefreshAction->trigger();
    QCOMPARE(m_form->files->rowCount(), 0);
    QVERIFY(!m_form->SaveTagAction->isEnabled());
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("typed"));
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("typed"));
}

void TestTagCommands::saveWritesTheFieldsAndUpdatesTheRow_data()
{
    QTest::addColumn<QString>("name");
    for (const char* type : kAudioTypes) {
        const QString ext = QLatin1String(type);
        QTest::newRow(type) << ext.toUpper() + QStringLiteral(" 0.") + ext;
    }
}

void TestTagCommands::saveWritesTheFieldsAndUpdatesTheRow()
{
    QFETCH(QString, name);
    const QPersistentModelIndex row = select(name);
    QVERIFY(row.isValid());
    const QString duration = cell(row, FileList::DurationColumn);
    const QString date = cell(row, FileList::DateColumn);

    audiotag typed = fullTag();
    typed.Track = QStringLiteral("abc");
    m_form->TagToEditors(typed);
    m_form->SaveTagAction->trigger();

    QVERIFY(m_boxes->shown.isEmpty());
    audiotag expected = fullTag();
    expected.Track = QStringLiteral("0"); // letters are no number
    audiotag stored;
    ReadTag(pathOf(name), stored);
    QCOMPARE(withoutLength(stored), expected);
    QCOMPARE(fields(), expected);
    QCOMPARE(cell(row, FileList::TitleColumn), expected.Title);
    QCOMPARE(cell(row, FileList::ArtistColumn), expected.Artist);
    QCOMPARE(cell(row, FileList::FileColumn), name);
    QCOMPARE(cell(row, FileList::DurationColumn), duration);
    QCOMPARE(cell(row, FileList::DateColumn), date);
}

void TestTagCommands::saveAfterAnotherProgramChangedTheFile_data()
{
    QTest::addColumn<QString>("theirTitle"); // empty: the other program leaves it
    QTest::addColumn<bool>("paste");
    QTest::addColumn<MsgAnswer>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("savedTitle");
    QTest::addColumn<QString>("savedAlbum");
    const QString mine = QStringLiteral("My title");
    const QString theirs = QStringLiteral("Their title");
    const QString theirAlbum = QStringLiteral("Their album");
    // The copied file has no album, like the shown one: the pasted empty album still counts
    // as changed, and replaces theirs.
    const QString pastedAlbum;
    QTest::newRow("other fields: merged, nothing asked")
        << QString() << false << MsgAnswer::No << false << mine << theirAlbum;
    QTest::newRow("same field, Yes: mine over theirs")
        << theirs << false << MsgAnswer::Yes << true << mine << theirAlbum;
    QTest::newRow("same field, No: nothing saved")
        << theirs << false << MsgAnswer::No << true << theirs << theirAlbum;
    QTest::newRow("pasted fields count as changed")
        << QString() << true << MsgAnswer::Yes << true << mine << pastedAlbum;
}

// Another program saves the shown file before the user's Save Tag: only what the user changed
// is written onto the file's current tag, and overwriting the other program's change of the
// same field is asked first.
void TestTagCommands::saveAfterAnotherProgramChangedTheFile()
{
    QFETCH(QString, theirTitle);
    QFETCH(bool, paste);
    QFETCH(MsgAnswer, answer);
    QFETCH(bool, asked);
    QFETCH(QString, savedTitle);
    QFETCH(QString, savedAlbum);
    const QString name = QStringLiteral("MP3 0.mp3");
    if (paste) {
        select(QStringLiteral("OGG 0.ogg"));
        m_form->CopyTagAction->trigger();
    }
    select(name);
    const audiotag shown = fields();
    if (paste)
        m_form->PasteTagAction->trigger();
    m_form->TitleEdit->setText(QStringLiteral("My title"));

    audiotag other;
    ReadTag(pathOf(name), other);
    other.Album = QStringLiteral("Their album");
    other.Artist = QStringLiteral("Their artist");
    if (!theirTitle.isEmpty())
        other.Title = theirTitle;
    QCOMPARE(WriteTag(pathOf(name), other), WriteTagResult::Saved);

    m_boxes->answer = answer;
    m_form->SaveTagAction->trigger();

    const QString question =
        pathOf(name) + QStringLiteral("\r\nwas changed by another program since its tag was shown. "
                                      "Save your changes over it?");
    QCOMPARE(m_boxes->texts(), asked ? QStringList{question} : QStringList());
    if (asked)
        QCOMPARE(m_boxes->shown.first().buttons, MsgButtons::YesNo);
    audiotag stored;
    ReadTag(pathOf(name), stored);
    QCOMPARE(stored.Title, savedTitle);
    QCOMPARE(stored.Album, savedAlbum);
    QCOMPARE(stored.Artist, paste && answer == MsgAnswer::Yes ? QStringLiteral("Artist ogg")
                                                              : QStringLiteral("Their artist"));
    QCOMPARE(stored.Comment, shown.Comment);
    QCOMPARE(withoutLength(stored), fields());
}

void TestTagCommands::copyPasteCarriesUnsavedEdits()
{
    const QString a = QStringLiteral("MP3 0.mp3");
    const QString b = QStringLiteral("OGG 0.ogg");
    const QByteArray aBefore = contents(pathOf(a));

    select(a);
    m_form->AlbumEdit->setText(QStringLiteral("Unsaved album of A"));
    m_form->CopyTagAction->trigger();
    const audiotag copied = fields();
    QCOMPARE(m_form->TagPanel->TagClipboard(), copied);

    select(b);
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("Title of ") + b);
    m_form->PasteTagAction->trigger();
    QCOMPARE(fields(), copied);
    m_form->SaveTagAction->trigger();

    audiotag stored;
    ReadTag(pathOf(b), stored);
    QCOMPARE(withoutLength(stored), copied);
    QCOMPARE(stored.Album, QStringLiteral("Unsaved album of A"));
    QCOMPARE(cell(rowNamed(m_form->files, b), FileList::TitleColumn),
             QStringLiteral("Title of ") + a);
    QCOMPARE(contents(pathOf(a)), aBefore);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestTagCommands::pasteBeforeCopyAndClearEmptyTheFields()
{
    const QString name = QStringLiteral("WMA 0.wma");
    const QByteArray before = contents(pathOf(name));
    select(name);
    QVERIFY(!m_form->TitleEdit->text().isEmpty());
    m_form->PasteTagAction->trigger();
    QCOMPARE(fields(), audiotag());

    select(QStringLiteral("APE 0.ape"));
    QVERIFY(!m_form->TitleEdit->text().isEmpty());
    QTest::mouseClick(m_form->Button5, Qt::LeftButton);
    QCOMPARE(fields(), audiotag());

    QCOMPARE(contents(pathOf(name)), before);
    QVERIFY(m_boxes->shown.isEmpty());
}

void TestTagCommands::removeTagFromExistingFile()
{
    const QString name = QStringLiteral("M4A 0.m4a");
    const QPersistentModelIndex row = select(name);
    const QString duration = cell(row, FileList::DurationColumn);
    const QString date = cell(row, FileList::DateColumn);

    m_form->RemoveTagAction->trigger();
    QVERIFY(m_boxes->shown.isEmpty());
    QCOMPARE(fields(), audiotag());
    QCOMPARE(cell(row, FileList::TitleColumn), QString());
    QCOMPARE(cell(row, FileList::ArtistColumn), QString());
    QCOMPARE(cell(row, FileList::DurationColumn), duration);
    QCOMPARE(cell(row, FileList::DateColumn), date);
    audiotag stored;
    ReadTag(pathOf(name), stored);
    QCOMPARE(stored.Title, QString());
    QCOMPARE(stored.Artist, QString());

    // Selecting the row again reads the file anew.
    m_form->files->clearSelection();
    select(name);
    QCOMPARE(fields(), withoutLength(stored));
    QCOMPARE(m_form->TrackEdit->text(), QStringLiteral("0"));
}

void TestTagCommands::fileDeletedAfterListing()
{
    const QString name = QStringLiteral("OGG 0.ogg");
    const QPersistentModelIndex row = select(name);
    const audiotag shown = fields();
    QVERIFY(QFile::remove(pathOf(name)));

    m_form->RemoveTagAction->trigger();
    QCOMPARE(m_boxes->texts(),
             QStringList{QStringLiteral("Can not remove tag from the file: ") + pathOf(name)});
    QCOMPARE(m_boxes->shown.first().icon, MsgIcon::None);
    QCOMPARE(m_boxes->shown.first().buttons, MsgButtons::Ok);
    QCOMPARE(fields(), shown);
    QCOMPARE(cell(row, FileList::TitleColumn), shown.Title);

    // Saving cannot even open it: said so, and the row keeps what it listed.
    m_boxes->shown.clear();
    m_form->SaveTagAction->trigger();
    QCOMPARE(m_boxes->texts(),
             QStringList{QStringLiteral("Can not save tag to the file: ") + pathOf(name)});
    QCOMPARE(fields(), audiotag());
    QCOMPARE(cell(row, FileList::TitleColumn), shown.Title);
    QCOMPARE(cell(row, FileList::ArtistColumn), shown.Artist);
}

void TestTagCommands::readOnlyFileIsLeftUnchanged()
{
    const QString name = QStringLiteral("MP3 0.mp3");
    const QString path = pathOf(name);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const bool root = ::geteuid() == 0;
    if (!root) // an owner may still replace a file in a folder it can write
        QVERIFY(QFile::setPermissions(m_home->desktop(), QFile::ReadOwner | QFile::ExeOwner));
    const QByteArray before = contents(path);
    const QPersistentModelIndex row = select(name);
    const audiotag stored = fields();

    {
        ActAsOrdinaryUser ordinaryUser;
        m_form->TagToEditors(fullTag());
        m_form->SaveTagAction->trigger();
        QCOMPARE(m_boxes->texts(),
                 QStringList{QStringLiteral("Can not save tag to the file: ") + path});
        QCOMPARE(m_boxes->shown.first().icon, MsgIcon::None);
        QCOMPARE(fields(), stored);
        QCOMPARE(cell(row, FileList::TitleColumn), stored.Title);

        m_boxes->shown.clear();
        m_form->RemoveTagAction->trigger();
        QCOMPARE(m_boxes->texts(),
                 QStringList{QStringLiteral("Can not remove tag from the file: ") + path});
        QCOMPARE(fields(), stored);
        QCOMPARE(cell(row, FileList::TitleColumn), stored.Title);
        QCOMPARE(cell(row, FileList::ArtistColumn), stored.Artist);
    }
    QCOMPARE(contents(path), before);
    QFile::setPermissions(m_home->desktop(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestTagCommands::playAndDoubleClickNeedASelectedRow()
{
    FileList* files = m_form->files;
    QVERIFY(!m_form->PlayAction->isEnabled());
    m_form->PlayActionExecute(m_form);
    const QPoint belowRows(10, files->viewport()->height() - 5);
    QVERIFY(!files->indexAt(belowRows).isValid());
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, belowRows);
    QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, belowRows);
    QVERIFY(m_shell->opened.isEmpty());

    const QString name = QStringLiteral("FLAC 0.flac");
    const QPersistentModelIndex row = select(name);
    m_form->PlayAction->trigger();
    QCOMPARE(m_shell->opened, QList<QUrl>{QUrl::fromLocalFile(pathOf(name))});

    m_shell->opened.clear();
    m_form->files->clearSelection();
    const QPoint onRow = files->visualRect(rowNamed(files, QStringLiteral("APE 0.ape"))).center();
    // A real double click: the first click selects the row.
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, onRow);
    QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, onRow);
    QCOMPARE(m_shell->opened,
             QList<QUrl>{QUrl::fromLocalFile(pathOf(QStringLiteral("APE 0.ape")))});
    QVERIFY(row.isValid());
}

void TestTagCommands::playWithoutAnOpenerSaysSo()
{
    const QString name = QStringLiteral("OGG 0.ogg");
    select(name);
    m_shell->result = false;
    m_form->PlayAction->trigger();
    QCOMPARE(m_boxes->texts(),
             QStringList{QStringLiteral("Unable to open ") + pathOf(name) +
                         QStringLiteral("\r\nNo program could open it; tried recorded-open.")});
    QCOMPARE(m_boxes->shown.first().icon, MsgIcon::Error);
}

void TestTagCommands::selectedFilePath()
{
    select(QStringLiteral("MP3 0.mp3"));
    QCOMPARE(m_form->SelectedFilePath(), pathOf(QStringLiteral("MP3 0.mp3")));

    // The separator goes in also after a folder path that ends with one.
    QVERIFY(m_form->ShellTreeView1->selectPath(QStringLiteral("/")));
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
    m_form->files->appendRow({QStringLiteral("x.mp3"), QString(), QString(), QString(), QString()});
    select(QStringLiteral("x.mp3"));
    QCOMPARE(m_form->SelectedFilePath(), QStringLiteral("//x.mp3"));
}

// The listed folder is renamed away and a look-alike takes its place: no command reaches the
// look-alike, and a refresh lists nothing instead of the renamed folder under the old name.
void TestTagCommands::folderRenamedAwayIsNeverWrittenThrough()
{
    const QString music = m_home->path() + QStringLiteral("/Music");
    const QString moved = m_home->path() + QStringLiteral("/Moved");
    const QString name = QStringLiteral("MP3 0.mp3");
    makeAudioFolder(music);
    QVERIFY(m_form->ShellTreeView1->selectPath(music));
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
    const QPersistentModelIndex row = select(name);
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("Title of ") + name);

    QVERIFY(QDir().rename(music, moved));
    QVERIFY(QDir().mkdir(music));
    QVERIFY(QFile::copy(moved + QLatin1Char('/') + name, music + QLatin1Char('/') + name));
    const QByteArray lookAlike = contents(music + QLatin1Char('/') + name);
    const QByteArray original = contents(moved + QLatin1Char('/') + name);

    m_form->files->clearSelection();
    select(name);
    QCOMPARE(fields(), audiotag());
    m_form->TitleEdit->setText(QStringLiteral("typed"));
    m_form->SaveTagAction->trigger();
    m_form->RemoveTagAction->trigger();
    const QString path = music + QLatin1Char('/') + name;
    QCOMPARE(m_boxes->texts(),
             (QStringList{QStringLiteral("Can not save tag to the file: ") + path,
                          QStringLiteral("Can not remove tag from the file: ") + path}));
    QCOMPARE(contents(path), lookAlike);
    QCOMPARE(contents(moved + QLatin1Char('/') + name), original);
    QCOMPARE(cell(row, FileList::TitleColumn), QStringLiteral("Title of ") + name);

    QVERIFY(QDir(music).removeRecursively());
    m_form->RefreshAction->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(scanEnded(m_form), 20000);
    QCOMPARE(m_form->files->rowCount(), 0);
    QCOMPARE(m_form->StatusPanel0->text(), QStringLiteral("Total files found: 0"));
    QVERIFY(!m_form->SaveTagAction->isEnabled());
    QCOMPARE(m_form->SelectedFilePath(), QString());
}

void TestTagCommands::anotherWriterRestoresTheTimestamps_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("flac") << QStringLiteral("FLAC 0.flac");
    QTest::newRow("mp3") << QStringLiteral("MP3 0.mp3");
    QTest::newRow("ape") << QStringLiteral("APE 0.ape");
}

// Another program changes the title in place and sets the file's times back: the user's
// save still sees the change, and keeps it.
void TestTagCommands::anotherWriterRestoresTheTimestamps()
{
    QFETCH(QString, name);
    select(name);
    m_form->AlbumEdit->setText(QStringLiteral("My album"));
    QVERIFY(rewriteKeepingTimestamps(pathOf(name), QStringLiteral("Title of "),
                                     QStringLiteral("Title by ")));

    m_form->SaveTagAction->trigger();
    QVERIFY(m_boxes->shown.isEmpty());
    audiotag stored;
    ReadTag(pathOf(name), stored);
    QCOMPARE(stored.Title, QStringLiteral("Title by ") + name);
    QCOMPARE(stored.Album, QStringLiteral("My album"));
    QCOMPARE(withoutLength(stored), fields());
}

void TestTagCommands::saveAfterRemoveAsksNothing_data()
{
    // The panel's own bookkeeping is the same for every type; one per tag family suffices.
    QTest::addColumn<QString>("name");
    QTest::newRow("id3") << QStringLiteral("MP3 0.mp3");
    QTest::newRow("xiph") << QStringLiteral("FLAC 0.flac");
    QTest::newRow("mp4") << QStringLiteral("M4A 0.m4a");
}

// The program's own removal is no other program's change.
void TestTagCommands::saveAfterRemoveAsksNothing()
{
    QFETCH(QString, name);
    select(name);
    m_form->RemoveTagAction->trigger();
    m_boxes->answer = MsgAnswer::No;
    m_form->TitleEdit->setText(QStringLiteral("After removal"));
    m_form->SaveTagAction->trigger();
    QVERIFY(m_boxes->shown.isEmpty());
    audiotag stored;
    ReadTag(pathOf(name), stored);
    QCOMPARE(stored.Title, QStringLiteral("After removal"));
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("After removal"));
}

void TestTagCommands::pastedLineBreaksBecomeBlanks_data()
{
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("shown");
    QTest::newRow("LF and CR-LF") << QStringLiteral("one\r\ntwo\nthree\r\n")
                                  << QStringLiteral("one two three ");
    QTest::newRow("CR, line and paragraph separators")
        << QStringLiteral("a\rb\u2028c\u2029d") << QStringLiteral("a b c d");
}

void TestTagCommands::pastedLineBreaksBecomeBlanks()
{
    QFETCH(QString, pasted);
    QFETCH(QString, shown);
    const QString name = QStringLiteral("FLAC 0.flac");
    select(name);
    QGuiApplication::clipboard()->setText(pasted);
    for (LimitedEdit* field : {m_form->TitleEdit, m_form->KeyEdit}) {
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field->text(), shown);
    }
    m_form->SaveTagAction->trigger();
    audiotag stored;
    ReadTag(pathOf(name), stored);
    QCOMPARE(stored.Title, shown);
    QCOMPARE(stored.Key, shown);
}

void TestTagCommands::storedLineBreaksStayUnlessEdited()
{
    const QString name = QStringLiteral("MP3 0.mp3");
    audiotag tag;
    ReadTag(pathOf(name), tag);
    tag.Album = QStringLiteral("line 1\nline 2");
    tag.Copyright = QStringLiteral("(c)\r\nsomeone");
    QCOMPARE(WriteTag(pathOf(name), tag), WriteTagResult::Saved);
    select(name);
    QTest::keyClicks(m_form->TitleEdit, QStringLiteral(" typed"));
    m_form->CopyrightEdit->setFocus();
    m_form->CopyrightEdit->end(false);
    QTest::keyClicks(m_form->CopyrightEdit, QStringLiteral("!"));
    m_form->SaveTagAction->trigger();
    audiotag stored;
    ReadTag(pathOf(name), stored);
    QCOMPARE(stored.Album, QStringLiteral("line 1\nline 2"));
    QCOMPARE(stored.Copyright, QStringLiteral("(c) someone!"));
    QCOMPARE(stored.Title, QStringLiteral("Title of MP3 0.mp3 typed"));
}

void TestTagCommands::saveUnderAFileSizeLimit_data()
{
    QTest::addColumn<bool>("copyFits");
    QTest::newRow("copy does not fit") << false;
    QTest::newRow("tag does not fit") << true;
}

// A quota or a full FAT32 stick: the save fails with its message, the window lives on, and
// no copy of the file is left behind.
void TestTagCommands::saveUnderAFileSizeLimit()
{
    QFETCH(bool, copyFits);
    const QString name = QStringLiteral("MP3 0.mp3");
    select(name);
    const QByteArray before = contents(pathOf(name));
    const QStringList names = entries(m_home->desktop());
    m_form->TitleEdit->setText(QString(200000, QLatin1Char('x')));

    rlimit saved = {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    rlimit limited = saved;
    limited.rlim_cur = rlim_t(copyFits ? before.size() + 4096 : before.size() / 2);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
    m_form->SaveTagAction->trigger();
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);

    QCOMPARE(m_boxes->texts(),
             QStringList{QStringLiteral("Can not save tag to the file: ") + pathOf(name)});
    QCOMPARE(contents(pathOf(name)), before);
    QCOMPARE(entries(m_home->desktop()), names);
    QCOMPARE(m_form->TitleEdit->text(), QStringLiteral("Title of ") + name);
}

QTEST_MAIN(TestTagCommands)
#include "tst_tagcommands.moc"
