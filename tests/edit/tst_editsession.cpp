// The editing session without widgets: what counts as changed, the merge with another
// program's save and when it asks, and the tag clipboard.
#include "edit/editsession.h"
#include "support/fixtures.h"
#include "support/taglibraryloaded.h"
#include "tags/tagoperations.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace tagora;
using namespace tagora::test;

Q_DECLARE_METATYPE(tagora::FileStamp)
Q_DECLARE_METATYPE(tagora::SavePlan::Step)

namespace {

// A tag read from a file: every field filled, and the length no save writes.
audiotag shownTag()
{
    audiotag tag;
    for (const TagField& field : TagFields)
        tag.*field.member = QStringLiteral("shown ") + QLatin1String(field.name);
    tag.Length = 2;
    return tag;
}

FileStamp stamp(std::int64_t size)
{
    FileStamp stamp;
    stamp.exists = true;
    stamp.identity.inode = 7;
    stamp.identity.size = size;
    return stamp;
}

const FileStamp kShownStamp = stamp(100);
const FileStamp kSavedSince = stamp(120);

// An edit of one field, as "Title=text"; empty: none.
void apply(audiotag& tag, const QString& edit)
{
    if (edit.isEmpty())
        return;
    const QString name = edit.section(QLatin1Char('='), 0, 0);
    for (const TagField& field : TagFields) {
        if (name == QLatin1String(field.name))
            tag.*field.member = edit.section(QLatin1Char('='), 1);
    }
}

} // namespace

class TestEditSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void whatCountsAsChanged_data();
    void whatCountsAsChanged();
    void merge_data();
    void merge();
    void clipboard();
    void planReadsTheFileOnlyWhenItChanged();
    void unreadableFileBlanksNothing();
};

void TestEditSession::whatCountsAsChanged_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<bool>("titleChanged");
    QTest::addColumn<bool>("albumChanged");
    QTest::newRow("nothing typed") << QString() << false << false << false;
    QTest::newRow("title typed") << QStringLiteral("Title=new") << false << true << false;
    QTest::newRow("title emptied") << QStringLiteral("Title=") << false << true << false;
    QTest::newRow("typed back to what was shown")
        << QStringLiteral("Title=shown Title") << false << false << false;
    QTest::newRow("pasted, same texts") << QString() << true << true << true;
}

void TestEditSession::whatCountsAsChanged()
{
    QFETCH(QString, edit);
    QFETCH(bool, pasted);
    QFETCH(bool, titleChanged);
    QFETCH(bool, albumChanged);
    EditSession session;
    session.copy(shownTag());
    session.show(shownTag(), kShownStamp);
    audiotag fields = pasted ? session.paste() : shownTag();
    apply(fields, edit);
    QCOMPARE(session.isChanged(fields, 0), titleChanged);
    QCOMPARE(session.isChanged(fields, 2), albumChanged);
}

void TestEditSession::merge_data()
{
    QTest::addColumn<FileStamp>("now");
    QTest::addColumn<QString>("mine");   // the user's edit
    QTest::addColumn<QString>("theirs"); // another program's save
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<SavePlan::Step>("step");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("album");
    const auto write = SavePlan::Step::Write;
    const auto ask = SavePlan::Step::AskBeforeOverwriting;
    const QString myTitle = QStringLiteral("Title=mine");
    const QString theirTitle = QStringLiteral("Title=theirs");
    const QString theirAlbum = QStringLiteral("Album=theirs");
    const QString shownTitle = QStringLiteral("shown Title");
    const QString shownAlbum = QStringLiteral("shown Album");
    const QString mine = QStringLiteral("mine");
    const QString theirs = QStringLiteral("theirs");

    QTest::newRow("file as shown: fields written as they are")
        << kShownStamp << myTitle << theirAlbum << false << write << mine << shownAlbum;
    QTest::newRow("file gone: left to the write")
        << FileStamp() << myTitle << theirAlbum << false << write << mine << shownAlbum;
    QTest::newRow("their field kept beside mine")
        << kSavedSince << myTitle << theirAlbum << false << write << mine << theirs;
    QTest::newRow("nothing of mine: theirs stays whole")
        << kSavedSince << QString() << theirTitle << false << write << theirs << shownAlbum;
    QTest::newRow("same field, other text: asked")
        << kSavedSince << myTitle << theirTitle << false << ask << mine << shownAlbum;
    QTest::newRow("same field, same text: nothing to ask")
        << kSavedSince << QStringLiteral("Title=theirs") << theirTitle << false << write << theirs
        << shownAlbum;
    QTest::newRow("emptied field they changed: asked")
        << kSavedSince << QStringLiteral("Title=") << theirTitle << false << ask << QString()
        << shownAlbum;
    QTest::newRow("pasted field they changed: asked")
        << kSavedSince << QString() << theirTitle << true << ask << shownTitle << shownAlbum;
}

void TestEditSession::merge()
{
    QFETCH(FileStamp, now);
    QFETCH(QString, mine);
    QFETCH(QString, theirs);
    QFETCH(bool, pasted);
    QFETCH(SavePlan::Step, step);
    QFETCH(QString, title);
    QFETCH(QString, album);
    EditSession session;
    session.copy(shownTag());
    session.show(shownTag(), kShownStamp);
    audiotag fields = pasted ? session.paste() : shownTag();
    apply(fields, mine);
    audiotag current = shownTag();
    apply(current, theirs);

    const SavePlan plan = session.planSave(now, current, fields);
    QCOMPARE(plan.step, step);
    QCOMPARE(plan.tag.Title, title);
    QCOMPARE(plan.tag.Album, album);
    QCOMPARE(plan.tag.Comment, QStringLiteral("shown Comment"));
}

// The clipboard holds the fields as copied and outlives the file shown; a paste counts as
// a change only until another file is shown.
void TestEditSession::clipboard()
{
    EditSession session;
    QCOMPARE(session.paste(), audiotag());
    audiotag copied = shownTag();
    copied.Album = QStringLiteral("unsaved album");
    session.copy(copied);
    session.show(audiotag(), kShownStamp);
    QCOMPARE(session.paste(), copied);
    QVERIFY(session.isChanged(copied, TagFields.size() - 1));
    session.showNothing();
    QCOMPARE(session.clipboard(), copied);
    QVERIFY(!session.isChanged(audiotag(), TagFields.size() - 1));
}

// The overload that looks at the file: a save by another program since the tag was shown is
// read and merged; a file as shown is not read at all.
void TestEditSession::planReadsTheFileOnlyWhenItChanged()
{
    loadTagLibraryBesideProgram();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    QVERIFY(QFile::copy(sampleFile(QStringLiteral("mp3")), path));
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);

    EditSession session;
    const FileStamp before = fileStampOf(path);
    audiotag shown;
    ReadTag(path, shown);
    session.show(shown, before);
    audiotag fields = shown;
    fields.Title = QStringLiteral("mine");
    QCOMPARE(session.planSave(path, fields).tag, fields);

    audiotag theirs = shown;
    theirs.Album = QStringLiteral("theirs");
    QCOMPARE(WriteTag(path, theirs), WriteTagResult::Saved);
    const SavePlan plan = session.planSave(path, fields);
    QCOMPARE(plan.step, SavePlan::Step::Write);
    QCOMPARE(plan.tag.Title, QStringLiteral("mine"));
    QCOMPARE(plan.tag.Album, QStringLiteral("theirs"));
}

// Another program leaves the file unreadable: what the user left alone is not emptied.
void TestEditSession::unreadableFileBlanksNothing()
{
    loadTagLibraryBesideProgram();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("song.mp3"));
    QVERIFY(QFile::copy(fixture(QStringLiteral("garbage.mp3")), path));
    EditSession session;
    session.show(shownTag(), kShownStamp);
    audiotag fields = shownTag();
    fields.Title = QStringLiteral("mine");
    const SavePlan plan = session.planSave(path, fields);
    QCOMPARE(plan.step, SavePlan::Step::Write);
    QCOMPARE(plan.tag, fields);
}

QTEST_GUILESS_MAIN(TestEditSession)
#include "tst_editsession.moc"
