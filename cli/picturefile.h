#pragma once

#include "cli/filewalk.h"

#include <QByteArray>
#include <QList>

struct TagLib_File_s;

namespace tagora::cli {

// One embedded picture as the tag library gives it.
struct StoredPicture
{
    int type = 3;
    QByteArray mimeType;
    QByteArray description; // UTF-8
    QByteArray data;
};

// An audio file's pictures through the tag library's cover entry points, open from
// construction to destruction. Every change is written by save().
class PictureFile
{
public:
    // True when the loaded tag library has the cover entry points.
    static bool available();

    explicit PictureFile(const QByteArray& path);
    ~PictureFile();
    PictureFile(const PictureFile&) = delete;
    PictureFile& operator=(const PictureFile&) = delete;

    // False when the file could not be opened as audio.
    bool isOpen() const { return m_file != nullptr; }
    // The library's handle, for reading the fields without opening the file twice.
    TagLib_File_s* handle() const { return m_file; }
    QList<StoredPicture> pictures() const;
    int count() const;
    // False when the file's type cannot hold the picture as given.
    bool set(const StoredPicture& picture);
    // Like set(), but beside the others, replacing none.
    bool add(const StoredPicture& picture);
    bool remove(int index);
    bool save();
    // The file as it was just before it was opened: a save over a file that differs from it
    // would lose another program's change.
    const FileIdentity& opened() const { return m_opened; }

private:
    FileIdentity m_opened;
    TagLib_File_s* m_file = nullptr;
};

// Picture types by the names the command line uses ("front", "back", ...), numbered as in
// ID3v2; -1 for an unknown name. A number 0..20 is taken as it is.
int pictureTypeNamed(const QByteArray& name);
QByteArray pictureTypeName(int type);
// All the names, in type order, for help and completion.
QList<QByteArray> pictureTypeNames();

} // namespace tagora::cli
