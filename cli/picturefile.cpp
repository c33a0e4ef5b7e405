#include "picturefile.h"

#include "tags/taglibrary.h"

#include <array>

namespace tagora::cli {
namespace {

// The cover entry points are looked up untyped, as the window never calls them.
struct CoverEntryPoints
{
    decltype(&::taglib_tag_get_cover_count) count;
    decltype(&::taglib_tag_get_cover) get;
    decltype(&::taglib_tag_get_cover_data) data;
    decltype(&::taglib_tag_set_cover) set;
    decltype(&::taglib_tag_add_cover) add;
    decltype(&::taglib_tag_remove_cover) remove;
};

CoverEntryPoints covers()
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    return {
        reinterpret_cast<decltype(&::taglib_tag_get_cover_count)>(lib.taglib_tag_get_cover_count),
        reinterpret_cast<decltype(&::taglib_tag_get_cover)>(lib.taglib_tag_get_cover),
        reinterpret_cast<decltype(&::taglib_tag_get_cover_data)>(lib.taglib_tag_get_cover_data),
        reinterpret_cast<decltype(&::taglib_tag_set_cover)>(lib.taglib_tag_set_cover),
        reinterpret_cast<decltype(&::taglib_tag_add_cover)>(lib.taglib_tag_add_cover),
        reinterpret_cast<decltype(&::taglib_tag_remove_cover)>(lib.taglib_tag_remove_cover)};
}

const std::array<const char*, 21> kTypeNames = {"other",
                                                "icon",
                                                "other-icon",
                                                "front",
                                                "back",
                                                "leaflet",
                                                "media",
                                                "lead-artist",
                                                "artist",
                                                "conductor",
                                                "band",
                                                "composer",
                                                "lyricist",
                                                "location",
                                                "during-recording",
                                                "during-performance",
                                                "screen-capture",
                                                "fish",
                                                "illustration",
                                                "band-logo",
                                                "publisher-logo"};

} // namespace

bool PictureFile::available()
{
    const CoverEntryPoints c = covers();
    const TagLibraryEntryPoints& lib = tagLibrary();
    return c.count && c.get && c.data && c.set && c.add && c.remove && lib.taglib_file_newu &&
           lib.taglib_file_save && lib.taglib_file_free && lib.taglib_tag_free_strings;
}

PictureFile::PictureFile(const QByteArray& path)
{
    identityOf(path, m_opened);
    m_file = tagLibrary().taglib_file_newu(path.constData());
}

PictureFile::~PictureFile()
{
    tagLibrary().taglib_file_free(m_file);
}

QList<StoredPicture> PictureFile::pictures() const
{
    const CoverEntryPoints c = covers();
    QList<StoredPicture> pictures;
    const int count = c.count(m_file);
    for (int i = 0; i < count; ++i) {
        StoredPicture picture;
        char* mime = nullptr;
        char* description = nullptr;
        unsigned int size = 0;
        if (!c.get(m_file, i, &picture.type, &mime, &description))
            continue;
        const char* data = c.data(m_file, i, &size);
        picture.mimeType = mime;
        picture.description = description;
        picture.data = QByteArray(data, qsizetype(size));
        pictures.append(picture);
    }
    tagLibrary().taglib_tag_free_strings();
    return pictures;
}

int PictureFile::count() const
{
    return covers().count(m_file);
}

bool PictureFile::set(const StoredPicture& picture)
{
    return covers().set(m_file, picture.type, picture.mimeType.constData(),
                        picture.description.constData(), picture.data.constData(),
                        unsigned(picture.data.size())) != 0;
}

bool PictureFile::add(const StoredPicture& picture)
{
    return covers().add(m_file, picture.type, picture.mimeType.constData(),
                        picture.description.constData(), picture.data.constData(),
                        unsigned(picture.data.size())) != 0;
}

bool PictureFile::remove(int index)
{
    return covers().remove(m_file, index) != 0;
}

bool PictureFile::save()
{
    return tagLibrary().taglib_file_save(m_file) != 0;
}

int pictureTypeNamed(const QByteArray& name)
{
    for (int type = 0; type < int(kTypeNames.size()); ++type) {
        if (name == kTypeNames[size_t(type)])
            return type;
    }
    bool ok = false;
    const int number = name.toInt(&ok);
    return ok && number >= 0 && number < int(kTypeNames.size()) ? number : -1;
}

QByteArray pictureTypeName(int type)
{
    return type >= 0 && type < int(kTypeNames.size()) ? QByteArray(kTypeNames[size_t(type)])
                                                      : QByteArray::number(type);
}

QList<QByteArray> pictureTypeNames()
{
    return QList<QByteArray>(kTypeNames.begin(), kTypeNames.end());
}

} // namespace tagora::cli
