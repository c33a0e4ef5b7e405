// Opening files through libtagwrapper.so and reading or writing all of the fields the
// program uses at once, for tests that check what a save left in a file.
#pragma once

#include "support/fixtures.h"
#include "tagwrapper.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

namespace tagora::test {

struct FileCloser
{
    void operator()(TagLib_File* f) const { taglib_file_free(f); }
};
using FilePtr = std::unique_ptr<TagLib_File, FileCloser>;

inline QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// Paths as file-name bytes (any bytes, as a directory may hold them) or as Qt text.
inline FilePtr open(const QByteArray& path)
{
    return FilePtr(taglib_file_newu(path.constData()));
}

inline FilePtr open(const QString& path)
{
    return open(native(path));
}

inline QString text(char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

struct Fields
{
    QString title, artist, album, genre, comment;
    unsigned track = 0, year = 0;
    QString copyright, bpm, key;
};

inline bool operator==(const Fields& a, const Fields& b)
{
    return a.title == b.title && a.artist == b.artist && a.album == b.album && a.genre == b.genre &&
           a.comment == b.comment && a.track == b.track && a.year == b.year &&
           a.copyright == b.copyright && a.bpm == b.bpm && a.key == b.key;
}

inline char* toString(const Fields& f)
{
    return QTest::toString(QStringList{f.title, f.artist, f.album, f.genre, f.comment,
                                       QString::number(f.track), QString::number(f.year),
                                       f.copyright, f.bpm, f.key}
                               .join(QLatin1Char('|')));
}

// A tag that no fixture holds, in several scripts.
inline Fields unicodeFields()
{
    Fields f;
    f.title = QStringLiteral("Neuer Titel ✓");
    f.artist = QStringLiteral("Артист");
    f.album = QStringLiteral("アルバム");
    f.genre = QStringLiteral("Ambient");
    f.comment = QStringLiteral("comment 🎵");
    f.track = 3;
    f.year = 2011;
    f.copyright = QStringLiteral("© someone");
    f.bpm = QStringLiteral("120");
    f.key = QStringLiteral("C#m");
    return f;
}

// f with `large` in a field the format of `type` stores in one piece, to make a file grow.
// WMA keeps its comment in the content description, whose lengths are 16 bits (TagLib writes
// longer ones wrapped, which the library refuses); its album is an attribute that may be large.
inline Fields withLargeValue(Fields f, const QString& type, const QString& large)
{
    (type == QLatin1String("wma") ? f.album : f.comment) = large;
    return f;
}

inline void setAll(TagLib_File* file, const Fields& f)
{
    TagLib_Tag* tag = taglib_file_tag(file);
    QVERIFY(tag);
    taglib_tag_set_title(tag, f.title.toUtf8().constData());
    taglib_tag_set_artist(tag, f.artist.toUtf8().constData());
    taglib_tag_set_album(tag, f.album.toUtf8().constData());
    taglib_tag_set_genre(tag, f.genre.toUtf8().constData());
    taglib_tag_set_comment(tag, f.comment.toUtf8().constData());
    taglib_tag_set_track(tag, f.track);
    taglib_tag_set_year(tag, f.year);
    taglib_tag_set_byname(file, "COPYRIGHT", f.copyright.toUtf8().constData());
    taglib_tag_set_bpm(file, f.bpm.toUtf8().constData());
    taglib_tag_set_key(file, f.key.toUtf8().constData());
}

inline bool writeAll(const QByteArray& path, const Fields& f)
{
    FilePtr file = open(path);
    if (!file || !taglib_file_is_valid(file.get()))
        return false;
    setAll(file.get(), f);
    return taglib_file_save_ex(file.get(), 3) != 0;
}

inline bool writeAll(const QString& path, const Fields& f)
{
    return writeAll(native(path), f);
}

// Strips every tag the file holds and saves; true when the save reported success.
inline bool removeAll(const QByteArray& path)
{
    FilePtr file = open(path);
    if (!file)
        return false;
    taglib_tag_remove(file.get());
    return taglib_file_save_ex(file.get(), 3) == 1;
}

inline Fields readAll(const QByteArray& path)
{
    Fields f;
    FilePtr file = open(path);
    if (!file)
        return f;
    if (TagLib_Tag* tag = taglib_file_tag(file.get())) {
        f.title = text(taglib_tag_title(tag));
        f.artist = text(taglib_tag_artist(tag));
        f.album = text(taglib_tag_album(tag));
        f.genre = text(taglib_tag_genre(tag));
        f.comment = text(taglib_tag_comment(tag));
        f.track = taglib_tag_track(tag);
        f.year = taglib_tag_year(tag);
    }
    f.copyright = text(taglib_tag_get_byname(file.get(), "COPYRIGHT"));
    f.bpm = text(taglib_tag_get_bpm(file.get()));
    f.key = text(taglib_tag_get_key(file.get()));
    taglib_tag_free_strings();
    return f;
}

inline Fields readAll(const QString& path)
{
    return readAll(native(path));
}

using tagora::test::contents;

inline QByteArray contents(const QByteArray& path)
{
    QFile f;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray bytes;
    if (f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        bytes = f.readAll();
    else
        ::close(fd);
    return bytes;
}

} // namespace tagora::test
