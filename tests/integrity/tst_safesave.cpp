// Saving through libtagwrapper.so never damages a file: out of room, refused, changed under
// the handle, reached by links, or repeated many times, the file is either left byte for byte
// as it was or holds exactly the new tag with its audio bytes unchanged, and no other file of
// the folder is touched.
#include "tagwrapper.h"

#include "bigfiles.h"
#include "scan/cthread.h"
#include "support/audiopayload.h"
#include "support/ordinaryuser.h"
#include "support/wrapperfields.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>

namespace {

using namespace tagora::test;

// What a body run in a child process answers when the system does not allow the test.
constexpr int kNotPossible = -1;

QByteArray fixtureBytes(const QString& type)
{
    return contents(sampleFile(type));
}

bool writeBytes(const QByteArray& path, const QByteArray& bytes, mode_t mode = 0644)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}

// Every name in a folder, hidden ones included, as the bytes readdir gives (sorted).
QList<QByteArray> entries(const QByteArray& folder)
{
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names.append(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QList<QByteArray> sorted(QList<QByteArray> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// The new tag, with a value of largeSize characters to make every format grow.
Fields newTag(const QString& type, int largeSize = 0)
{
    return largeSize > 0 ? withLargeValue(unicodeFields(), type, QString(largeSize, u'x'))
                         : unicodeFields();
}

// Runs body in a child process and hands back what it returned: 0 when every check held,
// kNotPossible, or the line of the check that failed. The child never returns into QtTest.
int inChild(const std::function<int()>& body)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return __LINE__;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipeFds[0]);
        const int result = body();
        const bool sent = ::write(pipeFds[1], &result, sizeof result) == sizeof result;
        ::_exit(sent ? 0 : 1);
    }
    ::close(pipeFds[1]);
    int result = __LINE__;
    if (pid > 0) {
        if (::read(pipeFds[0], &result, sizeof result) != sizeof result)
            result = __LINE__;
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    ::close(pipeFds[0]);
    return result;
}

#define CHILD_CHECK(condition)                                                                     \
    do {                                                                                           \
        if (!(condition))                                                                          \
            return __LINE__;                                                                       \
    } while (false)

bool becomeNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

// Opens path, sets every field to f and saves; the save's answer.
int saveFields(const QByteArray& path, const Fields& f)
{
    FilePtr file = open(path);
    if (!file)
        return -1;
    setAll(file.get(), f);
    return taglib_file_save_ex(file.get(), 3);
}

QString randomText(QRandomGenerator& random, int maxLength)
{
    static const QList<uint> alphabet = [] {
        const QString letters = QStringLiteral(
            "abcdefXYZ 0189-_.,;'\"/&äöüßéÑçøÅ€ЖжЯяΩλ中文日本語한국어עבריתالعربية🎵😀𝄞");
        return letters.toUcs4();
    }();
    QList<uint> codePoints;
    const int length = int(random.bounded(maxLength + 1));
    for (int i = 0; i < length; ++i)
        codePoints.append(alphabet[int(random.bounded(int(alphabet.size())))]);
    // Neither end is blank: ID3v1, which MP3 files get too, trims them.
    QString text = QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()),
                                     codePoints.size());
    return text.trimmed();
}

Fields randomFields(QRandomGenerator& random)
{
    Fields f;
    f.title = randomText(random, 40);
    f.artist = randomText(random, 30);
    f.album = randomText(random, 30);
    // A letter first: ID3v2 reads a genre of digits alone as a genre number.
    const QString genre = randomText(random, 12);
    f.genre = genre.isEmpty() ? QString() : QStringLiteral("G") + genre;
    f.comment = randomText(random, 200);
    f.track = random.bounded(4) == 0 ? 0 : random.bounded(1, 1000);
    f.year = random.bounded(4) == 0 ? 0 : random.bounded(1000, 3000);
    f.copyright = randomText(random, 30);
    switch (random.bounded(3)) {
    case 0:
        break;
    case 1:
        f.bpm = QString::number(random.bounded(40, 300));
        break;
    default:
        f.bpm = QStringLiteral("%1.5").arg(random.bounded(40, 300));
        break;
    }
    f.key = randomText(random, 4);
    return f;
}

} // namespace

class TestSafeSave : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    int m_case = 0;

    // A fresh folder for one test case, open to every user (some cases run as nobody).
    QByteArray newFolder()
    {
        const QByteArray folder = native(m_dir->filePath(QString::number(++m_case)));
        ::mkdir(folder.constData(), 0755);
        return folder;
    }

    QByteArray copyOfFixture(const QByteArray& folder, const QString& type,
                             const QByteArray& name = {})
    {
        const QByteArray path =
            folder + '/' + (name.isEmpty() ? QByteArray("x.") + type.toLatin1() : name);
        return writeBytes(path, fixtureBytes(type)) ? path : QByteArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        taglib_set_strings_unicode(1);
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        // Cases that drop to an unprivileged user must reach their folders.
        QVERIFY(::chmod(native(m_dir->path()).constData(), 0755) == 0);
        // Backups of files written in place go to a state folder every case's user may write.
        const QByteArray state = native(m_dir->filePath(QStringLiteral("state")));
        for (const QByteArray& folder :
             QList<QByteArray>{state, state + "/tagora", state + "/tagora/backups"})
            QVERIFY(::mkdir(folder.constData(), 0777) == 0 &&
                    ::chmod(folder.constData(), 0777) == 0);
        qputenv("XDG_STATE_HOME", state);
    }

    // QDir cannot remove what it cannot list: names that are not UTF-8 go by their bytes.
    void cleanupTestCase()
    {
        ::nftw(
            native(m_dir->path()).constData(),
            [](const char* path, const struct stat*, int, FTW* level) {
                if (level->level > 0)
                    ::remove(path);
                return 0;
            },
            16, FTW_DEPTH | FTW_PHYS);
        delete m_dir;
    }

    // --- Out of room ---------------------------------------------------------------------

    void fileSizeLimit_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("limit");
        for (const char* type : kAudioTypes) {
            const QString t = QString::fromLatin1(type);
            QTest::addRow("%s, copy does not fit", type) << t << QStringLiteral("copy");
            QTest::addRow("%s, tag does not fit", type) << t << QStringLiteral("tag");
            QTest::addRow("%s, hard-linked", type) << t << QStringLiteral("linked");
            QTest::addRow("%s, room enough", type) << t << QStringLiteral("none");
        }
    }

    // A file-size limit makes writes stop short (EFBIG) where TagLib would not notice.
    void fileSizeLimit()
    {
        QFETCH(QString, type);
        QFETCH(QString, limit);
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, type);
        QVERIFY(!path.isEmpty());
        QList<QByteArray> names{"x." + type.toLatin1()};
        if (limit == QLatin1String("linked")) {
            QVERIFY(::link(path.constData(),
                           QByteArray(folder + "/y." + type.toLatin1()).constData()) == 0);
            names.append("y." + type.toLatin1());
        }
        const QByteArray original = contents(path);
        const Fields wanted = newTag(type, 300000);
        rlim_t bytes = RLIM_INFINITY;
        if (limit == QLatin1String("copy"))
            bytes = rlim_t(original.size() / 2);
        else if (limit != QLatin1String("none"))
            bytes = rlim_t(original.size() + 4096);

        const int saved = inChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit l{};
            CHILD_CHECK(::getrlimit(RLIMIT_FSIZE, &l) == 0);
            l.rlim_cur = bytes;
            CHILD_CHECK(::setrlimit(RLIMIT_FSIZE, &l) == 0);
            return saveFields(path, wanted);
        });
        QCOMPARE(entries(folder), sorted(names));
        if (limit == QLatin1String("none")) {
            QCOMPARE(saved, 1);
            QCOMPARE(readAll(path), wanted);
            QCOMPARE(audioPayload(type, contents(path)), audioPayload(type, original));
        } else {
            QCOMPARE(saved, 0);
            QCOMPARE(contents(path), original);
        }
    }

    void fullFileSystem_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("copyFits");
        for (const char* type : kAudioTypes) {
            QTest::addRow("%s, copy does not fit", type) << QString::fromLatin1(type) << false;
            QTest::addRow("%s, tag does not fit", type) << QString::fromLatin1(type) << true;
        }
    }

    // A small tmpfs filled up to a few bytes of room (ENOSPC), mounted in a child's own mount
    // namespace; skipped where the system does not let the test mount one.
    void fullFileSystem()
    {
        QFETCH(QString, type);
        QFETCH(bool, copyFits);
        const QByteArray mountPoint = newFolder();
        const QByteArray small = fixtureBytes(type);
        const Fields wanted = newTag(type, 300000);

        const int result = inChild([&]() -> int {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tagora-test", mountPoint.constData(), "tmpfs", 0, "size=2m") != 0)
                return kNotPossible;
            const QByteArray path = mountPoint + "/x." + type.toLatin1();
            const QByteArray filler = mountPoint + "/filler";
            CHILD_CHECK(writeBytes(path, small));
            // Fill the file system, then give back just the room the case wants.
            const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            CHILD_CHECK(fd >= 0);
            const QByteArray block(64 * 1024, 'f');
            off_t filled = 0;
            for (ssize_t n = 0; (n = ::write(fd, block.constData(), size_t(block.size()))) > 0;)
                filled += n;
            const off_t room = copyFits ? small.size() + 64 * 1024 : small.size() / 2;
            CHILD_CHECK(::ftruncate(fd, std::max<off_t>(0, filled - room)) == 0);
            ::close(fd);

            CHILD_CHECK(saveFields(path, wanted) == 0);
            CHILD_CHECK(contents(path) == small);
            CHILD_CHECK(entries(mountPoint) == sorted({"filler", "x." + type.toLatin1()}));
            return 0;
        });
        if (result == kNotPossible)
            QSKIP("this system does not let the test mount a tmpfs in its own namespace");
        QCOMPARE(result, 0);
    }

    // --- Refused -------------------------------------------------------------------------

    void readOnly_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<uid_t>("fileOwner");
        QTest::addColumn<mode_t>("fileMode");
        QTest::addColumn<uid_t>("folderOwner");
        QTest::addColumn<bool>("saves");
        for (const char* type : kAudioTypes) {
            const QString t = QString::fromLatin1(type);
            QTest::addRow("%s, mode 0444, as this user", type)
                << t << false << ::geteuid() << mode_t(0444) << ::geteuid() << false;
            QTest::addRow("%s, mode 0444, as its owner nobody", type)
                << t << true << kNobody << mode_t(0444) << kNobody << false;
            // Replacing the file by a rename would be allowed by the folder; writing it is not.
            QTest::addRow("%s, another user's file in nobody's folder", type)
                << t << true << uid_t(0) << mode_t(0644) << kNobody << false;
            QTest::addRow("%s, mode 0644, as its owner nobody", type)
                << t << true << kNobody << mode_t(0644) << kNobody << true;
            // The copy is then made elsewhere and the result written in place.
            QTest::addRow("%s, nobody's file in a folder nobody may not write", type)
                << t << true << kNobody << mode_t(0644) << uid_t(0) << true;
        }
    }

    void readOnly()
    {
        QFETCH(QString, type);
        QFETCH(bool, asNobody);
        QFETCH(uid_t, fileOwner);
        QFETCH(mode_t, fileMode);
        QFETCH(uid_t, folderOwner);
        QFETCH(bool, saves);
        if (asNobody && ::geteuid() != 0)
            QSKIP("changing to another user needs root");
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, type);
        const QByteArray spare = native(m_dir->filePath(QStringLiteral("spare%1").arg(m_case)));
        QVERIFY(::mkdir(spare.constData(), 0755) == 0 && ::chmod(spare.constData(), 0777) == 0);
        if (::geteuid() == 0) {
            QVERIFY(::chown(path.constData(), fileOwner, fileOwner) == 0);
            QVERIFY(::chown(folder.constData(), folderOwner, folderOwner) == 0);
        }
        QVERIFY(::chmod(path.constData(), fileMode) == 0);
        struct stat before;
        QVERIFY(::stat(path.constData(), &before) == 0);
        const QByteArray original = contents(path);
        const Fields wanted = newTag(type);

        const int saved = inChild([&] {
            if (asNobody && !becomeNobody())
                return -2;
            ::setenv("TMPDIR", spare.constData(), 1);
            return saveFields(path, wanted);
        });
        QCOMPARE(saved, saves ? 1 : 0);
        struct stat after;
        QVERIFY(::stat(path.constData(), &after) == 0);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(entries(folder), QList<QByteArray>{"x." + type.toLatin1()});
        QVERIFY(entries(spare).isEmpty());
        if (saves) {
            QCOMPARE(readAll(path), wanted);
            QCOMPARE(audioPayload(type, contents(path)), audioPayload(type, original));
        } else {
            QCOMPARE(contents(path), original);
        }
    }

    void changedUnderUs_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("change");
        for (const char* type : kAudioTypes) {
            for (const char* change :
                 {"replaced by rename", "truncated", "rewritten", "grown", "deleted", "touched"})
                QTest::addRow("%s, %s", type, change)
                    << QString::fromLatin1(type) << QString::fromLatin1(change);
        }
    }

    // Between opening and saving, the file changes: the save writes nothing anywhere.
    void changedUnderUs()
    {
        QFETCH(QString, type);
        QFETCH(QString, change);
        const QByteArray folder = newFolder();
        const QByteArray name = "x." + type.toLatin1();
        const QByteArray path = copyOfFixture(folder, type);
        const QByteArray original = contents(path);
        FilePtr file = open(path);
        QVERIFY(file);
        setAll(file.get(), newTag(type));

        QList<QByteArray> expected{name};
        QByteArray changed = original;
        if (change == QLatin1String("replaced by rename")) {
            QVERIFY(::rename(path.constData(), QByteArray(folder + "/old").constData()) == 0);
            changed = fixtureBytes(type);
            QVERIFY(writeBytes(folder + "/new", changed));
            QVERIFY(::rename(QByteArray(folder + "/new").constData(), path.constData()) == 0);
            expected.append("old");
        } else if (change == QLatin1String("truncated")) {
            changed = original.left(original.size() / 2);
            QVERIFY(::truncate(path.constData(), changed.size()) == 0);
        } else if (change == QLatin1String("rewritten")) {
            // Same size, other bytes, in the same inode. The pause lets the clock move on:
            // a rewrite within the same tick of the file system's clock cannot be told apart.
            QThread::msleep(20);
            changed[changed.size() / 2] = char(~changed[changed.size() / 2]);
            const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC);
            QVERIFY(fd >= 0);
            QCOMPARE(::pwrite(fd, changed.constData(), size_t(changed.size()), 0),
                     ssize_t(changed.size()));
            ::close(fd);
        } else if (change == QLatin1String("grown")) {
            changed += QByteArray(1000, '\0');
            QVERIFY(writeBytes(path, changed));
        } else if (change == QLatin1String("deleted")) {
            QVERIFY(::unlink(path.constData()) == 0);
            expected.clear();
        } else if (change == QLatin1String("touched")) {
            const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
            QVERIFY(::utimensat(AT_FDCWD, path.constData(), times, 0) == 0);
        }

        QCOMPARE(taglib_file_save_ex(file.get(), 3), 0);
        file.reset();
        QCOMPARE(entries(folder), sorted(expected));
        if (!expected.isEmpty())
            QCOMPARE(contents(path), changed);
        if (expected.contains("old"))
            QCOMPARE(contents(folder + "/old"), original);
    }

    // --- Links and names -----------------------------------------------------------------

    void hardLinks_data() { addTypeRows(); }

    // The inode is kept, so every name of the file sees the new tag.
    void hardLinks()
    {
        QFETCH(QString, type);
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, type, "a." + type.toLatin1());
        const QByteArray other = folder + "/b." + type.toLatin1();
        QVERIFY(::link(path.constData(), other.constData()) == 0);
        const QByteArray original = contents(path);
        struct stat before;
        QVERIFY(::stat(path.constData(), &before) == 0);

        const Fields wanted = newTag(type, 5000);
        QVERIFY(writeAll(path, wanted));
        struct stat after;
        struct stat otherAfter;
        QVERIFY(::stat(path.constData(), &after) == 0);
        QVERIFY(::stat(other.constData(), &otherAfter) == 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(otherAfter.st_ino, before.st_ino);
        QCOMPARE(after.st_nlink, nlink_t(2));
        QCOMPARE(readAll(other), wanted);
        QCOMPARE(audioPayload(type, contents(other)), audioPayload(type, original));
        QCOMPARE(entries(folder), sorted({"a." + type.toLatin1(), "b." + type.toLatin1()}));

        // Shrinking in place works too.
        QVERIFY(removeAll(path));
        QCOMPARE(readAll(other), Fields());
        QCOMPARE(audioPayload(type, contents(other)), audioPayload(type, original));
    }

    void symbolicLinks_data() { addTypeRows(); }

    // A link (here a chain of two, relative, from another folder) keeps pointing at its target,
    // and the target gets the new tag in its own folder.
    void symbolicLinks()
    {
        QFETCH(QString, type);
        const QByteArray top = newFolder();
        const QByteArray music = top + "/music";
        const QByteArray links = top + "/links";
        QVERIFY(::mkdir(music.constData(), 0755) == 0 && ::mkdir(links.constData(), 0755) == 0);
        const QByteArray name = "target." + type.toLatin1();
        const QByteArray target = copyOfFixture(music, type, name);
        const QByteArray link = links + "/link." + type.toLatin1();
        const QByteArray chain = links + "/chain." + type.toLatin1();
        const QByteArray linkText = "../music/" + name;
        const QByteArray chainText = "link." + type.toLatin1();
        QVERIFY(::symlink(linkText.constData(), link.constData()) == 0);
        QVERIFY(::symlink(chainText.constData(), chain.constData()) == 0);
        const QByteArray original = contents(target);

        const Fields wanted = newTag(type, 5000);
        QVERIFY(writeAll(chain, wanted));
        QCOMPARE(readAll(target), wanted);
        QCOMPARE(audioPayload(type, contents(target)), audioPayload(type, original));
        char buffer[256] = {};
        QCOMPARE(::readlink(link.constData(), buffer, sizeof buffer - 1), linkText.size());
        QCOMPARE(QByteArray(buffer), linkText);
        QCOMPARE(::readlink(chain.constData(), buffer, sizeof buffer - 1), chainText.size());
        QCOMPARE(QByteArray(buffer, int(chainText.size())), chainText);
        QCOMPARE(entries(music), QList<QByteArray>{name});
        QCOMPARE(entries(links), sorted({"chain." + type.toLatin1(), "link." + type.toLatin1()}));
    }

    void keepsOwnerModeAndAttributes_data() { addTypeRows(); }

    void keepsOwnerModeAndAttributes()
    {
        QFETCH(QString, type);
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, type);
        QVERIFY(::chmod(path.constData(), 0640) == 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QVERIFY(::chown(path.constData(), kNobody, kNobody) == 0);
        const bool attributes = ::setxattr(path.constData(), "user.tagora", "kept", 4, 0) == 0;
        struct stat before;
        QVERIFY(::stat(path.constData(), &before) == 0);

        QVERIFY(writeAll(path, newTag(type)));
        struct stat after;
        QVERIFY(::stat(path.constData(), &after) == 0);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_gid, before.st_gid);
        if (attributes) {
            char value[16] = {};
            QCOMPARE(::getxattr(path.constData(), "user.tagora", value, sizeof value), ssize_t(4));
            QCOMPARE(QByteArray(value), QByteArray("kept"));
        }
    }

    // A file mounted over another cannot be replaced by a rename (EBUSY); it is written in place.
    void bindMountedFile()
    {
        const QString type = QStringLiteral("mp3");
        const QByteArray folder = newFolder();
        const QByteArray source = copyOfFixture(folder, type, "source.mp3");
        const QByteArray target = copyOfFixture(folder, type, "target.mp3");
        const Fields wanted = newTag(type);
        const int result = inChild([&]() -> int {
            if (::unshare(CLONE_NEWNS) != 0 ||
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
                return kNotPossible;
            CHILD_CHECK(saveFields(target, wanted) == 1);
            CHILD_CHECK(readAll(target) == wanted);
            return 0;
        });
        if (result == kNotPossible)
            QSKIP("this system does not let the test bind-mount a file in its own namespace");
        QCOMPARE(result, 0);
        // Outside the child's namespace: the file that was mounted got the tag.
        QCOMPARE(readAll(source), wanted);
        QCOMPARE(contents(target), fixtureBytes(type));
        QCOMPARE(entries(folder), sorted({"source.mp3", "target.mp3"}));
    }

    // File names are bytes: one that is not UTF-8 is saved and stripped as it is, and its
    // look-alikes (its UTF-8 spelling, the replacement character) are left alone.
    void nonUtf8Names()
    {
        const QByteArray folder = newFolder();
        const QList<QByteArray> names{"caf\xe9.mp3", "caf\xc3\xa9.mp3", "caf\xef\xbf\xbd.mp3",
                                      "caf\xe9.MP3", "\xff\xfe.flac"};
        for (const QByteArray& name : names) {
            const QString type = QString::fromLatin1(name.mid(name.lastIndexOf('.') + 1)).toLower();
            QVERIFY(writeBytes(folder + '/' + name, fixtureBytes(type)));
        }
        const QList<QByteArray> before = entries(folder);
        const QByteArray path = folder + '/' + names[0];
        const QByteArray other = folder + '/' + names[4];
        const Fields wanted = newTag(QStringLiteral("mp3"));
        QVERIFY(writeAll(path, wanted));
        QVERIFY(writeAll(other, wanted));
        QCOMPARE(readAll(path), wanted);
        QCOMPARE(readAll(other), wanted);
        QCOMPARE(entries(folder), before);
        for (int i = 1; i < 4; ++i)
            QCOMPARE(contents(folder + '/' + names[i]), fixtureBytes(QStringLiteral("mp3")));

        QVERIFY(removeAll(path));
        QCOMPARE(readAll(path), Fields());
        QCOMPARE(entries(folder), before);
    }

    // --- Batches -------------------------------------------------------------------------

    void batchChangesFilesAtItsCommit_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("largeSize");
        for (const char* type : kAudioTypes) {
            QTest::addRow("%s, small", type) << QString::fromLatin1(type) << 0;
            QTest::addRow("%s, grown past 1 MiB", type) << QString::fromLatin1(type) << 1200000;
        }
    }

    // A held save changes its file only at the commit, and not at all when another program
    // wrote the file in between; nothing of the batch is left beside the files.
    void batchChangesFilesAtItsCommit()
    {
        QFETCH(QString, type);
        QFETCH(int, largeSize);
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, type);
        const QByteArray other = copyOfFixture(folder, type, "other." + type.toLatin1());
        const QByteArray before = contents(path);
        const Fields wanted = newTag(type, largeSize);
        QVERIFY(taglib_batch_begin(nullptr, nullptr));
        QVERIFY(!taglib_batch_begin(nullptr, nullptr));
        QCOMPARE(saveFields(path, wanted), 1);
        QCOMPARE(saveFields(other, wanted), 1);
        QCOMPARE(taglib_batch_held(), 2);
        QCOMPARE(contents(path), before);
        QVERIFY(writeBytes(other, "another program's bytes"));
        int placed[2] = {-1, -1};
        QCOMPARE(taglib_batch_commit(placed, 2), 2);
        QCOMPARE(placed[0], 1);
        QCOMPARE(placed[1], 0);
        QCOMPARE(readAll(path), wanted);
        QCOMPARE(contents(other), QByteArray("another program's bytes"));
        QCOMPARE(entries(folder), sorted({"x." + type.toLatin1(), "other." + type.toLatin1()}));
        QCOMPARE(entries(qgetenv("XDG_STATE_HOME") + "/tagora/backups"), QList<QByteArray>());
        QCOMPARE(taglib_batch_commit(nullptr, 0), -1);
    }

    // When what must reach the disk first cannot, the batch touches no file.
    void batchTouchesNothingWhenNotReady()
    {
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, QStringLiteral("flac"));
        const QByteArray before = contents(path);
        QVERIFY(taglib_batch_begin([](void*) { return 0; }, nullptr));
        QCOMPARE(saveFields(path, newTag(QStringLiteral("flac"))), 1);
        int placed = -1;
        QCOMPARE(taglib_batch_commit(&placed, 1), 1);
        QCOMPARE(placed, 0);
        QCOMPARE(contents(path), before);
        QCOMPARE(entries(folder), QList<QByteArray>{"x.flac"});
    }

    // --- Leftovers -----------------------------------------------------------------------

    // Copies left by a save that died are removed by the next save in their folder once they
    // are unlocked, however young (a running save's copy is locked before it has a name);
    // nothing else is, and no copy is ever listed as audio.
    void leftoverCopies()
    {
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, QStringLiteral("mp3"));
        const QByteArray stale = ".x.mp3.AbC123.tagora-tmp";
        const QByteArray young = ".y.mp3.Zz9Zz9.tagora-tmp";
        const QByteArray locked = ".z.mp3.LoCk12.tagora-tmp";
        const QList<QByteArray> unlike{".x.mp3.tagora-tmp", "x.AbC123.tagora-tmp",
                                       ".x.mp3.AbC12.tagora-tmp", ".x.mp3.AbC123.tagora-tmp2",
                                       ".x.mp3.AbC-23.tagora-tmp"};
        const timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 120, 0}};
        for (const QByteArray& name : QList<QByteArray>{stale, young, locked} + unlike) {
            QVERIFY(writeBytes(folder + '/' + name, "left over"));
            if (name != young)
                QVERIFY(::utimensat(AT_FDCWD, QByteArray(folder + '/' + name).constData(), old,
                                    0) == 0);
        }
        const int lock =
            ::open(QByteArray(folder + '/' + locked).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(lock >= 0);
        QVERIFY(::flock(lock, LOCK_EX) == 0);

        QVERIFY(writeAll(path, newTag(QStringLiteral("mp3"))));
        ::close(lock);
        QCOMPARE(entries(folder), sorted(QList<QByteArray>{"x.mp3", locked} + unlike));

        QVERIFY(!tagora::CThread::IsAudioFileExt(QStringLiteral(".tagora-tmp")));
    }

    void growAndShrink_data() { addTypeRows(); }

    // A tag of 300 KB written into a 3 MB file and stripped again: the audio moves by more
    // than the size of the buffer that moves it, both ways, and comes back unchanged.
    void growAndShrink()
    {
        QFETCH(QString, type);
        const QByteArray folder = newFolder();
        const QByteArray path = folder + "/big." + type.toLatin1();
        const QByteArray original = enlarged(type, fixtureBytes(type), 3 * 1024 * 1024);
        QVERIFY(!original.isEmpty());
        QVERIFY(writeBytes(path, original));
        const std::optional<QByteArray> payload = audioPayload(type, original);

        const Fields wanted = newTag(type, 300000);
        QVERIFY(writeAll(path, wanted));
        QCOMPARE(readAll(path), wanted);
        QCOMPARE(audioPayload(type, contents(path)), payload);

        QVERIFY(removeAll(path));
        QCOMPARE(readAll(path), Fields());
        QCOMPARE(audioPayload(type, contents(path)), payload);
        // TagLib keeps the room of a removed MP4 tag as a free atom; the others give it back.
        if (type != QLatin1String("m4a"))
            QVERIFY(contents(path).size() < original.size() + 8192);
    }

    void fittingTag_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("stateFolderUsable");
        for (const char* type : {"mp3", "flac", "m4a"}) {
            QTest::addRow("%s in place", type) << QString::fromLatin1(type) << true;
            QTest::addRow("%s without a state folder", type) << QString::fromLatin1(type) << false;
        }
    }

    // A tag that fits the room a former save left is written over the old one, keeping the
    // inode; where no rollback record can be kept, the file is still saved, through a copy.
    void fittingTag()
    {
        QFETCH(QString, type);
        QFETCH(bool, stateFolderUsable);
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, type);
        QVERIFY(writeAll(path, newTag(type)));
        const QByteArray state = folder + "/state";
        if (!stateFolderUsable)
            QVERIFY(writeBytes(state, "a file where the folder would go"));
        struct stat before;
        QVERIFY(::stat(path.constData(), &before) == 0);
        Fields wanted = newTag(type);
        wanted.title = QStringLiteral("A title that fits");

        const int saved = inChild([&] {
            ::setenv("XDG_STATE_HOME", state.constData(), 1);
            return saveFields(path, wanted);
        });
        QCOMPARE(saved, 1);
        QCOMPARE(readAll(path), wanted);
        struct stat after;
        QVERIFY(::stat(path.constData(), &after) == 0);
        QCOMPARE(after.st_ino == before.st_ino, stateFolderUsable);
        QCOMPARE(after.st_size, before.st_size);
        if (stateFolderUsable)
            QVERIFY(entries(state + "/tagora/backups").isEmpty());
    }

    // --- Many saves ----------------------------------------------------------------------

    void cycles_data() { addTypeRows(); }

    // 100 rounds of random values (fixed seed) and stripping: every round reads back what was
    // written, saving the same values again gives the same bytes, the audio bytes never move.
    void cycles()
    {
        QFETCH(QString, type);
        const QByteArray folder = newFolder();
        const QByteArray path = copyOfFixture(folder, type);
        const std::optional<QByteArray> payload = audioPayload(type, contents(path));
        QVERIFY(payload && !payload->isEmpty());
        QRandomGenerator random(20240 + quint32(qHash(type)));
        for (int round = 0; round < 100; ++round) {
            if (round % 10 == 9) {
                QVERIFY(removeAll(path));
                QCOMPARE(readAll(path), Fields());
            } else {
                const Fields wanted = randomFields(random);
                QVERIFY(writeAll(path, wanted));
                QCOMPARE(readAll(path), wanted);
                const QByteArray once = contents(path);
                QVERIFY(writeAll(path, wanted));
                QCOMPARE(contents(path), once);
            }
            QCOMPARE(audioPayload(type, contents(path)), payload);
        }
        QCOMPARE(entries(folder), QList<QByteArray>{"x." + type.toLatin1()});
    }
};

QTEST_GUILESS_MAIN(TestSafeSave)
#include "tst_safesave.moc"
