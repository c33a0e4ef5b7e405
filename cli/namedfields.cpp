#include "namedfields.h"

#include "tags/taglibrary.h"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace tagora::cli {
namespace {

struct PropertyEntryPoints
{
    decltype(&::taglib_property_count) count;
    decltype(&::taglib_property_value) value;
    decltype(&::taglib_property_set) set;
    decltype(&::taglib_property_name_count) nameCount;
    decltype(&::taglib_property_name) name;
    decltype(&::taglib_file_id3v2_version) version;
    decltype(&::taglib_file_id3v2_lost_frames) lostFrames;
    decltype(&::taglib_file_set_id3v2_version) setVersion;
};

// Looked up untyped, as the window never calls them.
PropertyEntryPoints entryPoints()
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    return {
        reinterpret_cast<decltype(&::taglib_property_count)>(lib.taglib_property_count),
        reinterpret_cast<decltype(&::taglib_property_value)>(lib.taglib_property_value),
        reinterpret_cast<decltype(&::taglib_property_set)>(lib.taglib_property_set),
        reinterpret_cast<decltype(&::taglib_property_name_count)>(lib.taglib_property_name_count),
        reinterpret_cast<decltype(&::taglib_property_name)>(lib.taglib_property_name),
        reinterpret_cast<decltype(&::taglib_file_id3v2_version)>(lib.taglib_file_id3v2_version),
        reinterpret_cast<decltype(&::taglib_file_id3v2_lost_frames)>(
            lib.taglib_file_id3v2_lost_frames),
        reinterpret_cast<decltype(&::taglib_file_set_id3v2_version)>(
            lib.taglib_file_set_id3v2_version)};
}

const QString kShownSeparator = QStringLiteral("; ");
constexpr QChar kJournalSeparator(0x1f);

QStringList splitValues(const QString& text)
{
    return text.isEmpty() ? QStringList() : text.split(kShownSeparator);
}

} // namespace

bool namedFieldsAvailable()
{
    const PropertyEntryPoints p = entryPoints();
    return p.count && p.value && p.set && p.nameCount && p.name && p.version && p.lostFrames &&
           p.setVersion;
}

bool isPropertyName(const QByteArray& name)
{
    return !name.isEmpty() && std::all_of(name.begin(), name.end(), [](char c) {
        return c >= 0x20 && c <= 0x7e && c != '=';
    });
}

QStringList propertyValues(TagLib_File_s* file, const QByteArray& name)
{
    const PropertyEntryPoints p = entryPoints();
    QStringList values;
    const int count = p.count(file, name.constData());
    for (int i = 0; i < count; ++i)
        values.append(QString::fromUtf8(p.value(file, name.constData(), i)));
    tagLibrary().taglib_tag_free_strings();
    return values;
}

bool setPropertyValues(TagLib_File_s* file, const QByteArray& name, const QStringList& values)
{
    QList<QByteArray> texts;
    for (const QString& value : values)
        texts.append(value.toUtf8());
    std::vector<const char*> pointers;
    for (const QByteArray& text : std::as_const(texts))
        pointers.push_back(text.constData());
    return entryPoints().set(file, name.constData(), pointers.data(), int(pointers.size())) != 0;
}

QList<QByteArray> propertyNames(TagLib_File_s* file)
{
    const PropertyEntryPoints p = entryPoints();
    QList<QByteArray> names;
    const int count = p.nameCount(file);
    for (int i = 0; i < count; ++i)
        names.append(QByteArray(p.name(file, i)));
    tagLibrary().taglib_tag_free_strings();
    return names;
}

int id3v2Version(TagLib_File_s* file)
{
    return entryPoints().version(file);
}

QByteArray id3v2LostFrames(TagLib_File_s* file, int version)
{
    const QByteArray frames(entryPoints().lostFrames(file, version));
    tagLibrary().taglib_tag_free_strings();
    return frames;
}

bool setId3v2Version(TagLib_File_s* file, int version)
{
    return entryPoints().setVersion(file, version) != 0;
}

FileFacts factsOf(TagLib_File_s* file, const QByteArray& path)
{
    const TagLibraryEntryPoints& lib = tagLibrary();
    const auto types =
        reinterpret_cast<decltype(&::taglib_file_tag_types)>(lib.taglib_file_tag_types);
    const auto codec = reinterpret_cast<decltype(&::taglib_file_codec)>(lib.taglib_file_codec);
    const auto lengthMs = reinterpret_cast<decltype(&::taglib_audioproperties_length_ms)>(
        lib.taglib_audioproperties_length_ms);
    FileFacts facts;
    if (types && codec) {
        facts.tagTypes = QString::fromUtf8(types(file));
        facts.codec = QString::fromUtf8(codec(file));
    }
    const TagLib_AudioProperties* audio = lib.taglib_file_audioproperties(file);
    facts.bitrate = lib.taglib_audioproperties_bitrate(audio);
    facts.sampleRate = lib.taglib_audioproperties_samplerate(audio);
    facts.channels = lib.taglib_audioproperties_channels(audio);
    facts.lengthMs = lengthMs ? lengthMs(audio) : 0;
    struct stat st
    {
    };
    facts.size = ::stat(path.constData(), &st) == 0 ? qint64(st.st_size) : 0;
    lib.taglib_tag_free_strings();
    return facts;
}

const QList<QByteArray>& factColumns()
{
    static const QList<QByteArray> columns{"tags",     "codec",    "bitrate", "samplerate",
                                           "channels", "lengthms", "size"};
    return columns;
}

QString factText(const FileFacts& facts, const QByteArray& column)
{
    const qint64 numbers[] = {
        0, 0, facts.bitrate, facts.sampleRate, facts.channels, facts.lengthMs, facts.size};
    const qsizetype index = factColumns().indexOf(column);
    if (index == 0)
        return facts.tagTypes;
    if (index == 1)
        return facts.codec;
    return index > 1 ? QString::number(numbers[index]) : QString();
}

QStringList PropertyAssignment::applied(const QStringList& stored) const
{
    switch (kind) {
    case Kind::Replace:
        return values;
    case Kind::Add:
        return stored + values;
    case Kind::Remove: {
        QStringList kept = stored;
        for (const QString& value : values)
            kept.removeAll(value);
        return kept;
    }
    }
    return stored;
}

bool parsePropertyAssignment(const QByteArray& arg, PropertyAssignment& assignment)
{
    const qsizetype equals = arg.indexOf('=');
    if (equals <= 0)
        return false;
    qsizetype nameEnd = equals;
    assignment.kind = PropertyAssignment::Kind::Replace;
    if (arg[equals - 1] == '+' || arg[equals - 1] == '-') {
        assignment.kind = arg[equals - 1] == '+' ? PropertyAssignment::Kind::Add
                                                 : PropertyAssignment::Kind::Remove;
        --nameEnd;
    }
    assignment.name = arg.left(nameEnd).toUpper();
    assignment.values = splitValues(QString::fromUtf8(arg.mid(equals + 1)));
    return isPropertyName(assignment.name);
}

QString shownValues(const QStringList& values)
{
    return values.join(kShownSeparator);
}

QByteArray journalValues(const QStringList& values)
{
    return values.join(kJournalSeparator).toUtf8();
}

QStringList valuesFromJournal(const QByteArray& text)
{
    return text.isEmpty() ? QStringList() : QString::fromUtf8(text).split(kJournalSeparator);
}

} // namespace tagora::cli
