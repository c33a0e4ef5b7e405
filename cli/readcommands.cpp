#include "cli/commands.h"
#include "cli/filecommand.h"
#include "cli/listformat.h"
#include "cli/namedfields.h"
#include "cli/namepattern.h"
#include "cli/picturefile.h"
#include "tags/tagoperations.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

constexpr int kDefaultTableWidth = 120;

int terminalWidth()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    const int columns = qEnvironmentVariableIntValue("COLUMNS");
    return columns > 0 ? columns : kDefaultTableWidth;
}

// The values of ls's extra columns for one file: its facts and named fields.
QList<QStringList> extraValues(const QByteArray& path, const PictureFile& file,
                               const QList<QByteArray>& columns)
{
    QList<QStringList> values;
    if (columns.isEmpty())
        return values;
    const FileFacts facts = factsOf(file.handle(), path);
    for (const QByteArray& column : columns) {
        values.append(factColumns().contains(column) ? QStringList{factText(facts, column)}
                                                     : propertyValues(file.handle(), column));
    }
    return values;
}

class ListCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;
};

class InfoCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;

private:
    QByteArray infoOf(const QByteArray& path);
};

class GetCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;
};

int ListCommand::run()
{
    if (m_options.arguments.isEmpty())
        return usage("ls needs at least one file or folder");
    QList<QByteArray> extra;
    for (const QByteArray& list : m_options.fields) {
        for (const QByteArray& name : list.split(',')) {
            const QByteArray column = factColumns().contains(name.trimmed().toLower())
                                          ? name.trimmed().toLower()
                                          : name.trimmed().toUpper();
            if (!factColumns().contains(column) &&
                (!isPropertyName(column) || memberNamed(QString::fromUtf8(column))))
                return usage("'" + name + "' is no field to add to the listing");
            extra.append(column);
        }
    }
    if (!extra.isEmpty() && !namedFieldsAvailable())
        return usage("the tag library in use reads no fields by name");
    ListPrinter printer(m_options.format, stdout, terminalWidth(), extra);
    printer.begin();
    // One open of each file gives the fields and the pictures.
    forEachFile(m_options.arguments, [&](const QByteArray& path) {
        if (::access(path.constData(), R_OK) != 0) {
            fail(path, "unreadable: " + errorText(errno));
            return;
        }
        const PictureFile file(path);
        audiotag tag;
        if (!ReadTagOf(file.handle(), tag)) {
            fail(path, "not an audio file of a known type");
            return;
        }
        const auto value = [&](const QString& field) {
            return field == QLatin1String("pictures") ? QString::number(file.pictures().size())
                                                      : whereValue(path, tag, field);
        };
        if (!m_where.matches(value))
            return;
        m_progress->clear();
        printer.row(path, tag, file, extraValues(path, file, extra));
    });
    printer.end();
    return status();
}

int InfoCommand::run()
{
    if (m_options.arguments.isEmpty())
        return usage("info needs at least one file or folder");
    if (!namedFieldsAvailable())
        return usage("the tag library in use reads no fields by name");
    forEachFile(m_options.arguments, [&](const QByteArray& path) {
        if (::access(path.constData(), R_OK) != 0) {
            fail(path, "unreadable: " + errorText(errno));
            return;
        }
        const QByteArray text = infoOf(path);
        if (!text.isEmpty())
            print(text);
    });
    return status();
}

// Every item of one file, a line each: what the file is, each property with all its values,
// each picture by type, MIME type and size.
QByteArray InfoCommand::infoOf(const QByteArray& path)
{
    const PictureFile file(path);
    if (!file.isOpen()) {
        fail(path, "not an audio file of a known type");
        return {};
    }
    QByteArray text = "== " + terminalSafe(path) + '\n';
    const FileFacts facts = factsOf(file.handle(), path);
    for (const QByteArray& column : factColumns())
        text += column + ": " + terminalSafe(factText(facts, column).toUtf8()) + '\n';
    for (const QByteArray& name : propertyNames(file.handle())) {
        const QString values = shownValues(propertyValues(file.handle(), name));
        text += terminalSafe(name) + ": " + terminalSafe(values.toUtf8()) + '\n';
    }
    const QList<StoredPicture> pictures = file.pictures();
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const StoredPicture& picture = pictures[i];
        text += "picture " + QByteArray::number(i) + ": " + pictureTypeName(picture.type) + ", " +
                terminalSafe(picture.mimeType) + ", " + QByteArray::number(picture.data.size()) +
                " bytes" +
                (picture.description.isEmpty()
                     ? QByteArray()
                     : QByteArray(", \"" + terminalSafe(picture.description) + '"')) +
                '\n';
    }
    return text;
}

int GetCommand::run()
{
    if (m_options.arguments.size() < 2)
        return usage("get needs a field and at least one file or folder");
    QString audiotag::*member = memberNamed(QString::fromUtf8(m_options.arguments.first()));
    const QByteArray property = m_options.arguments.first().toUpper();
    if (!member && (!isPropertyName(property) || !namedFieldsAvailable()))
        return usage("unknown field '" + m_options.arguments.first() + "'");
    const QList<QByteArray> paths = m_options.arguments.mid(1);
    // Like grep, one named file gives the bare value; more give "path<tab>value" lines.
    const bool bare = paths.size() == 1 && !isFolder(paths.first());
    forEachFile(paths, [&](const QByteArray& path) {
        FileIdentity identity;
        audiotag tag;
        if (!load(path, identity, tag))
            return;
        const QByteArray value =
            member ? (tag.*member).toUtf8()
                   : shownValues(propertyValues(PictureFile(path).handle(), property)).toUtf8();
        print(bare ? QByteArray(value + '\n')
                   : QByteArray(tsvEscaped(path) + '\t' + tsvEscaped(value) + '\n'));
    });
    return status();
}

} // namespace

extern const Command kListCommand = {
    "ls", "rqFwL",
    "Usage: tagora-cli ls [-r] [--format table|tsv|csv|json] [--fields F1,F2...] PATH...\n"
    "One row per audio file: the path, the ten fields, the length in seconds and\n"
    "the number of pictures (json: each picture's type, MIME type, size and\n"
    "description).\n"
    "The table is sized to the terminal; tsv, csv and json hold every value whole\n"
    "and keep file names byte for byte (json writes bytes that are not UTF-8 as\n"
    "\\udcXX). The csv is what 'import' reads back.\n"
    "--fields adds columns: named fields (see 'get'; json gives several values as\n"
    "an array) and tags (the tag types, 'ID3v2.3, APE, ID3v1'), codec, bitrate,\n"
    "samplerate, channels, lengthms, size.\n",
    true, &FileCommand::runAs<ListCommand>};

extern const Command kInfoCommand = {
    "info", "rq",
    "Usage: tagora-cli info [-r] PATH...\n"
    "Prints everything a file holds: its tag types (with the ID3v2 version), codec,\n"
    "bitrate, sample rate, channels, length in ms and size, every property with all\n"
    "its values, and each picture by type, MIME type and size.\n",
    true, &FileCommand::runAs<InfoCommand>};

extern const Command kGetCommand = {
    "get", "rqw",
    "Usage: tagora-cli get [-r] FIELD PATH...\n"
    "Prints FIELD of each file as 'PATH<tab>VALUE' (the bare value for one file).\n"
    "FIELD is one of the ten fields or any name TagLib's property interface knows,\n"
    "case ignored: ALBUMARTIST, DISCNUMBER, COMPOSER, LYRICS, TITLESORT,\n"
    "REPLAYGAIN_TRACK_GAIN, MUSICBRAINZ_ALBUMID, ... or a free-form name. Several\n"
    "values are joined by '; '.\n",
    true, &FileCommand::runAs<GetCommand>};

} // namespace tagora::cli
