// The tag operations on real audio files of every type, through the real libtagwrapper.so
// found beside the test program.
#include "services/nativepath.h"
#include "support/fixtures.h"
#include "support/ordinaryuser.h"
#include "support/sampletags.h"
#include "support/taglibraryloaded.h"
#include "tags/taglibrary.h"
#include "tags/tagoperations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

using namespace tagora;
using namespace tagora::test;

namespace {

constexpr int kFixtureSeconds = 2; // every sample plays for 2 whole seconds

// What reading gives back after `written` was saved: numbers as decimal text, the length
// from the audio.
audiotag readBack(audiotag written)
{
    written.Track = QString::number(tagNumberFromText(written.Track));
    written.Year = QString::number(tagNumberFromText(written.Year));
    written.Length = kFixtureSeconds;
    return written;
}

audiotag untagged()
{
    audiotag tag;
    tag.Track = QStringLiteral("0");
    tag.Year = QStringLiteral("0");
    tag.Length = kFixtureSeconds;
    return tag;
}

} // namespace

class TagFilesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A fresh, writable copy of sample.<extension> in the temporary folder.
    QString copyOfSample(const QString& extension, const QString& name = QStringLiteral("copy"))
    {
        const QString path = m_dir.filePath(name + u'.' + extension);
        QFile::remove(path);
        if (!QFile::copy(sampleFile(extension), path))
            return QString();
        QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner);
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        test::loadTagLibraryBesideProgram();
    }
    void cleanupTestCase() { UnloadTagLibrary(); }

    void everyCalledEntryPointIsExported()
    {
        const TagLibraryEntryPoints& lib = tagLibrary();
        const bool present[] = {lib.taglib_set_strings_unicode != nullptr,
                                lib.taglib_file_newu != nullptr,
                                lib.taglib_file_is_valid != nullptr,
                                lib.taglib_file_tag != nullptr,
                                lib.taglib_tag_title != nullptr,
                                lib.taglib_tag_artist != nullptr,
                                lib.taglib_tag_album != nullptr,
                                lib.taglib_tag_genre != nullptr,
                                lib.taglib_tag_comment != nullptr,
                                lib.taglib_tag_track != nullptr,
                                lib.taglib_tag_year != nullptr,
                                lib.taglib_tag_get_byname != nullptr,
                                lib.taglib_tag_get_bpm != nullptr,
                                lib.taglib_tag_get_key != nullptr,
                                lib.taglib_file_audioproperties != nullptr,
                                lib.taglib_audioproperties_length != nullptr,
                                lib.taglib_tag_free_strings != nullptr,
                                lib.taglib_file_free != nullptr,
                                lib.taglib_tag_set_title != nullptr,
                                lib.taglib_tag_set_artist != nullptr,
                                lib.taglib_tag_set_album != nullptr,
                                lib.taglib_tag_set_genre != nullptr,
                                lib.taglib_tag_set_comment != nullptr,
                                lib.taglib_tag_set_track != nullptr,
                                lib.taglib_tag_set_year != nullptr,
                                lib.taglib_tag_set_byname != nullptr,
                                lib.taglib_tag_set_key != nullptr,
                                lib.taglib_tag_set_bpm != nullptr,
                                lib.taglib_tag_remove != nullptr,
                                lib.taglib_file_save_ex != nullptr};
        static_assert(std::size(present) == 30);
        for (std::size_t i = 0; i < std::size(present); ++i)
            QVERIFY2(present[i], qPrintable(QStringLiteral("entry point %1 missing").arg(i)));
    }

    void untouchedSampleReadsEmptyWithItsLength_data() { addTypeRows("extension"); }
    void untouchedSampleReadsEmptyWithItsLength()
    {
        QFETCH(QString, extension);
        audiotag tag;
        ReadTag(sampleFile(extension), tag);
        QCOMPARE(tag, untagged());
    }

    void roundTrip_data() { addTypeRows("extension"); }
    void roundTrip()
    {
        QFETCH(QString, extension);
        const QString path = copyOfSample(extension);
        QVERIFY(!path.isEmpty());
        for (const audiotag& written : {plainTag(), unicodeTag()}) {
            QCOMPARE(WriteTag(path, written), WriteTagResult::Saved);
            audiotag read;
            ReadTag(path, read);
            QCOMPARE(read, readBack(written));
        }
    }

    void emptyTextsClearTheFields_data() { addTypeRows("extension"); }
    void emptyTextsClearTheFields()
    {
        QFETCH(QString, extension);
        const QString path = copyOfSample(extension);
        QCOMPARE(WriteTag(path, plainTag()), WriteTagResult::Saved);
        audiotag cleared;
        cleared.Track = QStringLiteral("0");
        cleared.Year = QStringLiteral("-3"); // below 1: unset
        QCOMPARE(WriteTag(path, cleared), WriteTagResult::Saved);
        audiotag read;
        ReadTag(path, read);
        QCOMPARE(read, untagged());
    }

    // An emptied year leaves no year, not the full date it replaced, read either way.
    void clearedFullDateLeavesNoYear_data() { addTypeRows("extension"); }
    void clearedFullDateLeavesNoYear()
    {
        QFETCH(QString, extension);
        const QString path = copyOfSample(extension);
        audiotag tag = plainTag();
        tag.Year = QStringLiteral("2019-05-17");
        QCOMPARE(WriteTag(path, tag), WriteTagResult::Saved);
        tag.Year.clear();
        QCOMPARE(WriteTag(path, tag), WriteTagResult::Saved);
        audiotag read;
        QVERIFY(ReadTag(path, read));
        QCOMPARE(read.Year, QStringLiteral("0"));
        QVERIFY(ReadTagAsStored(path, read));
        QCOMPARE(read.Year, QStringLiteral("0"));
        QCOMPARE(read.Title, tag.Title);
    }

    void removeStripsEveryField_data() { addTypeRows("extension"); }
    void removeStripsEveryField()
    {
        QFETCH(QString, extension);
        const QString path = copyOfSample(extension);
        QCOMPARE(WriteTag(path, unicodeTag()), WriteTagResult::Saved);
        QVERIFY(RemoveTag(path));
        audiotag read;
        ReadTag(path, read);
        QCOMPARE(read, untagged());
        QVERIFY(RemoveTag(path)); // stripping a bare file is no failure
    }

    void readOnlyFileIsLeftAlone_data() { addTypeRows("extension"); }
    void readOnlyFileIsLeftAlone()
    {
        QFETCH(QString, extension);
        const QString path = copyOfSample(extension);
        QCOMPARE(WriteTag(path, plainTag()), WriteTagResult::Saved);
        const QFile::Permissions readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        const QFile::Permissions searchable = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(m_dir.path(), readable | searchable | QFile::WriteOwner));
        QVERIFY(QFile::setPermissions(path, readable));
        const auto makeWritable =
            qScopeGuard([&] { QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner); });
        const QByteArray before = contents(path);
        {
            ActAsOrdinaryUser ordinaryUser;
            QCOMPARE(WriteTag(path, unicodeTag()), WriteTagResult::SaveFailed);
            QVERIFY(!RemoveTag(path));
            audiotag read;
            ReadTag(path, read);
            QCOMPARE(read, readBack(plainTag()));
        }
        QCOMPARE(contents(path), before);
    }

    void missingFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("missing.mp3"));
        audiotag tag = plainTag();
        ReadTag(path, tag);
        QCOMPARE(tag, audiotag());
        QCOMPARE(WriteTag(path, plainTag()), WriteTagResult::NotOpened);
        QVERIFY(!RemoveTag(path));
        QVERIFY(!QFile::exists(path));
    }

    void nonUtf8FileName()
    {
        const QString copy = copyOfSample(QStringLiteral("mp3"));
        const QByteArray nativeName = pathToNative(m_dir.path()) + "/caf\xe9.mp3";
        QCOMPARE(std::rename(pathToNative(copy).constData(), nativeName.constData()), 0);
        // QTemporaryDir cannot remove a name that is not UTF-8.
        const auto removeFile = qScopeGuard([&] { std::remove(nativeName.constData()); });
        const QString path = pathFromNative(nativeName);
        QCOMPARE(WriteTag(path, plainTag()), WriteTagResult::Saved);
        audiotag read;
        ReadTag(path, read);
        QCOMPARE(read, readBack(plainTag()));
        QVERIFY(RemoveTag(path));
    }

    void brokenFiles_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray garbage = contents(fixture(QStringLiteral("garbage.mp3")));
        QVERIFY(!garbage.isEmpty());
        for (const char* type : kAudioTypes) {
            const QByteArray sample = contents(sampleFile(QLatin1String(type)));
            QVERIFY(!sample.isEmpty());
            QTest::addRow("%s empty", type) << QString::fromLatin1(type) << QByteArray();
            QTest::addRow("%s first 32 bytes", type)
                << QString::fromLatin1(type) << sample.left(32);
            QTest::addRow("%s garbage", type) << QString::fromLatin1(type) << garbage;
        }
    }
    void brokenFiles()
    {
        QFETCH(QString, extension);
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(QStringLiteral("broken.") + extension);
        QVERIFY(writeFile(path, bytes));
        audiotag tag = plainTag();
        ReadTag(path, tag);
        QCOMPARE(tag, audiotag());
        // A file the library cannot read is not damaged further.
        QVERIFY(WriteTag(path, plainTag()) != WriteTagResult::Saved);
        RemoveTag(path);
        QCOMPARE(contents(path), bytes);
    }

    void truncatedSampleDoesNotCrash_data() { addTypeRows("extension"); }
    void truncatedSampleDoesNotCrash()
    {
        // Cut in the middle of the audio, a file may still read as valid; what matters is
        // that every operation returns.
        QFETCH(QString, extension);
        const QByteArray sample = contents(sampleFile(extension));
        const QString path = m_dir.filePath(QStringLiteral("half.") + extension);
        for (const qsizetype size : {sample.size() / 2, sample.size() - 1}) {
            QVERIFY(writeFile(path, sample.left(size)));
            audiotag tag;
            ReadTag(path, tag);
            QVERIFY(tag.Length <= kFixtureSeconds);
            WriteTag(path, plainTag());
            RemoveTag(path);
        }
    }
};

QTEST_GUILESS_MAIN(TagFilesTest)
#include "tst_tagfiles.moc"
