#include "picturecommand.h"

#include "cli/commands.h"
#include "cli/filecommand.h"
#include "cli/filewalk.h"
#include "cli/imagecheck.h"
#include "cli/listformat.h"
#include "cli/options.h"
#include "cli/pictureblobs.h"
#include "cli/picturefile.h"
#include "services/nativepath.h"

#include <QSet>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora::cli {
namespace {

// Larger images are refused unless --force: a cover is rarely above a few MiB, and every copy
// weighs on each file it goes into.
constexpr qint64 kMaxImageBytes = 16 << 20;
// The most the tag library takes, --force or not.
constexpr qint64 kMaxForcedBytes = 64 << 20;

// The journal's field names for a picture a change added or took away; the value is
// "type<tab>sha256<tab>MIME type<tab>description".
const QByteArray kAddedField = "added-picture";
const QByteArray kRemovedField = "removed-picture";

// The options each action takes: r n q f(orce) a(ll) F(ormat) i(ndex) t(ype) o(utput)
// d(escription).
struct Action
{
    const char* name;
    const char* options;
};

const Action kActions[] = {{"ls", "rqF"}, {"get", "itof"}, {"set", "rnqtdf"}, {"rm", "rnqita"}};

struct PictureOptions
{
    QByteArray action;
    QByteArray used; // the letters of the options given
    bool help = false;
    bool recursive = false;
    bool dryRun = false;
    bool quiet = false;
    bool force = false;
    bool all = false;
    bool json = false;
    int index = -1;
    int type = -1;
    QByteArray output;
    QByteArray description;
    QList<QByteArray> arguments;
};

// Options without a value, by their spellings.
char flagLetter(const QByteArray& arg)
{
    static const std::pair<const char*, char> kFlags[] = {
        {"-r", 'r'}, {"--recursive", 'r'}, {"-n", 'n'},      {"--dry-run", 'n'},
        {"-q", 'q'}, {"--quiet", 'q'},     {"--force", 'f'}, {"--all", 'a'}};
    for (const auto& [text, letter] : kFlags) {
        if (arg == text)
            return letter;
    }
    return 0;
}

// Options with a value ("--format json" or "--format=json").
char valueLetter(const QByteArray& arg)
{
    static const std::pair<const char*, char> kValued[] = {
        {"--format", 'F'}, {"-i", 'i'},       {"--index", 'i'}, {"--type", 't'},
        {"-o", 'o'},       {"--output", 'o'}, {"--desc", 'd'},  {"--description", 'd'}};
    const QByteArray name = arg.left(arg.indexOf('=') < 0 ? arg.size() : arg.indexOf('='));
    for (const auto& [text, letter] : kValued) {
        if (name == text)
            return letter;
    }
    return 0;
}

void applyFlag(char letter, PictureOptions& o)
{
    bool* flags[] = {&o.recursive, &o.dryRun, &o.quiet, &o.force, &o.all};
    *flags[std::strchr("rnqfa", letter) - "rnqfa"] = true;
}

bool applyValue(char letter, const QByteArray& value, PictureOptions& o, QByteArray& error)
{
    bool ok = true;
    switch (letter) {
    case 'F':
        o.json = value == "json";
        ok = o.json || value == "table";
        error = "unknown format '" + value + "' (table or json)";
        break;
    case 'i':
        o.index = value.toInt(&ok);
        ok = ok && o.index >= 0;
        error = "'" + value + "' is not a picture index (0, 1, ...)";
        break;
    case 't':
        o.type = pictureTypeNamed(value);
        ok = o.type >= 0;
        error = "unknown picture type '" + value + "' (" + pictureTypeNames().join(", ") +
                ", or 0 to 20)";
        break;
    case 'o':
        o.output = value;
        break;
    default:
        o.description = value;
        break;
    }
    return ok;
}

// "-rn" stands for "-r -n".
bool isBundle(const QByteArray& arg)
{
    return arg.size() > 2 && arg[0] == '-' && arg[1] != '-' &&
           std::all_of(arg.begin() + 1, arg.end(),
                       [](char c) { return std::strchr("rnq", c) != nullptr; });
}

bool parseArgument(const QList<QByteArray>& argv, qsizetype& i, PictureOptions& o,
                   QByteArray& error)
{
    const QByteArray& arg = argv[i];
    if (arg == "-h" || arg == "--help") {
        o.help = true;
    } else if (const char flag = flagLetter(arg)) {
        applyFlag(flag, o);
        o.used += flag;
    } else if (isBundle(arg)) {
        for (qsizetype k = 1; k < arg.size(); ++k)
            applyFlag(arg[k], o);
        o.used += arg.mid(1);
    } else if (const char letter = valueLetter(arg)) {
        const qsizetype equals = arg.indexOf('=');
        if (equals < 0 && i + 1 >= argv.size()) {
            error = "option '" + arg + "' needs a value";
            return false;
        }
        o.used += letter;
        return applyValue(letter, equals < 0 ? argv[++i] : arg.mid(equals + 1), o, error);
    } else {
        error = "unknown option '" + arg + "'";
        return false;
    }
    return true;
}

bool parsePictureOptions(const QList<QByteArray>& argv, PictureOptions& o, QByteArray& error)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < argv.size(); ++i) {
        const QByteArray& arg = argv[i];
        if (!optionsEnded && arg == "--")
            optionsEnded = true;
        else if (!optionsEnded && arg.startsWith('-') && arg != "-") {
            if (!parseArgument(argv, i, o, error))
                return false;
        } else if (o.action.isEmpty())
            o.action = arg;
        else
            o.arguments.append(arg);
    }
    if (o.help || o.action.isEmpty())
        return true;
    for (const Action& action : kActions) {
        if (o.action != action.name)
            continue;
        for (char letter : o.used) {
            if (!std::strchr(action.options, letter)) {
                error = "an option given does not apply to 'picture " + o.action + "'";
                return false;
            }
        }
        return true;
    }
    error = "unknown picture action '" + o.action + "' (ls, get, set or rm)";
    return false;
}

// --- Pictures in the journal -----------------------------------------------------------------

QByteArray journalValue(const StoredPicture& picture)
{
    return QByteArray::number(picture.type) + '\t' + pictureblobs::hashOf(picture.data) + '\t' +
           picture.mimeType + '\t' + picture.description;
}

// A journalled picture: its bytes are those the hash names.
struct JournalledPicture
{
    StoredPicture picture;
    QByteArray hash;
};

bool parseJournalValue(const QByteArray& value, JournalledPicture& parsed)
{
    const QList<QByteArray> parts = value.split('\t');
    if (parts.size() < 4)
        return false;
    bool ok = false;
    parsed.picture.type = parts[0].toInt(&ok);
    parsed.hash = parts[1];
    parsed.picture.mimeType = parts[2];
    parsed.picture.description = value.mid(parts[0].size() + parts[1].size() + parts[2].size() + 3);
    return ok;
}

bool samePicture(const StoredPicture& a, const StoredPicture& b)
{
    return a.type == b.type && a.mimeType == b.mimeType && a.description == b.description &&
           a.data == b.data;
}

// The pictures of `from` that `other` does not hold (as many times as they are missing).
QList<StoredPicture> missingFrom(QList<StoredPicture> other, const QList<StoredPicture>& from)
{
    QList<StoredPicture> missing;
    for (const StoredPicture& picture : from) {
        const auto found = std::find_if(other.begin(), other.end(), [&](const StoredPicture& p) {
            return samePicture(p, picture);
        });
        if (found == other.end())
            missing.append(picture);
        else
            other.erase(found);
    }
    return missing;
}

QByteArray changeLines(const QByteArray& path, const QList<StoredPicture>& added,
                       const QList<StoredPicture>& removed)
{
    QByteArray lines;
    const auto line = [&](const char* what, const StoredPicture& p) {
        lines += path + ": " + what + ' ' + pictureTypeName(p.type) + " picture (" + p.mimeType +
                 ", " + QByteArray::number(p.data.size()) + " bytes)\n";
    };
    for (const StoredPicture& p : removed)
        line("removed", p);
    for (const StoredPicture& p : added)
        line("added", p);
    return lines;
}

JournalRecord pictureRecord(const QByteArray& path, const FileIdentity& before,
                            const QList<StoredPicture>& added, const QList<StoredPicture>& removed)
{
    JournalRecord entry;
    entry.command = "picture";
    entry.path = absolutePath(path);
    entry.identity = before;
    for (const StoredPicture& picture : added) {
        entry.fields.append(kAddedField);
        entry.values.append(journalValue(picture));
    }
    for (const StoredPicture& picture : removed) {
        entry.fields.append(kRemovedField);
        entry.values.append(journalValue(picture));
    }
    return entry;
}

QByteArray extensionFor(const QByteArray& mimeType)
{
    static const std::pair<const char*, const char*> kExtensions[] = {
        {"image/jpeg", "jpg"}, {"image/jpg", "jpg"}, {"image/png", "png"},
        {"image/gif", "gif"},  {"image/bmp", "bmp"}, {"image/webp", "webp"}};
    for (const auto& [mime, extension] : kExtensions) {
        if (mimeType == mime)
            return extension;
    }
    return "bin";
}

QByteArray sizeText(const QByteArray& data)
{
    ImageInfo info;
    QByteArray reason;
    return inspectImage(data, info, reason)
               ? QByteArray::number(info.width) + "x" + QByteArray::number(info.height)
               : QByteArray("?");
}

// --- The actions ------------------------------------------------------------------------------

// Base options for the shared plumbing: the walk, the dry run and the progress line.
Options baseOptions(const PictureOptions& picture)
{
    Options options;
    options.command = "picture";
    options.recursive = picture.recursive;
    options.dryRun = picture.dryRun;
    options.quiet = picture.quiet;
    return options;
}

class PictureCommand : public FileCommand
{
public:
    explicit PictureCommand(const PictureOptions& options)
        : FileCommand(baseOptions(options)), m_picture(options)
    {}

    int run() override;

private:
    void finish();
    bool open(PictureFile& file, const QByteArray& path);

    int list();
    void listFile(const QByteArray& path);
    int get();
    bool readImage(const QByteArray& image, StoredPicture& picture);
    int set();
    int remove();
    bool removeChosen(PictureFile& file, const QByteArray& path, int count);

    const PictureOptions m_picture;
    bool m_firstJsonFile = true;
};

// Blobs that no journal line refers to any more go, while the journal's lock is still held.
void PictureCommand::finish()
{
    if (!m_options.dryRun)
        removeUnreferencedPictureBlobs(m_journal);
    summarize();
}

bool PictureCommand::open(PictureFile& file, const QByteArray& path)
{
    if (!file.isOpen())
        fail(path, ::access(path.constData(), R_OK) != 0
                       ? QByteArray("unreadable: " + errorText(errno))
                       : QByteArray("not an audio file of a known type"));
    return file.isOpen();
}

int PictureCommand::list()
{
    if (m_picture.arguments.isEmpty())
        return usage("picture ls needs at least one file or folder");
    if (m_picture.json)
        print("[");
    forEachFile(m_picture.arguments, [&](const QByteArray& path) { listFile(path); });
    if (m_picture.json)
        print(m_firstJsonFile ? "]\n" : "\n]\n");
    return status();
}

void PictureCommand::listFile(const QByteArray& path)
{
    PictureFile file(path);
    if (!open(file, path))
        return;
    const QList<StoredPicture> pictures = file.pictures();
    if (m_picture.json) {
        print(QByteArray(m_firstJsonFile ? "\n" : ",\n") + "{\"path\": " +
              jsonQuoted(pathFromNative(path)) + ", \"pictures\": " + picturesJson(pictures) + '}');
        m_firstJsonFile = false;
        return;
    }
    QByteArray lines;
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const StoredPicture& p = pictures[i];
        lines += tsvEscaped(path) + '\t' + QByteArray::number(i) + '\t' + pictureTypeName(p.type) +
                 '\t' + p.mimeType + '\t' + sizeText(p.data) + '\t' +
                 QByteArray::number(p.data.size()) + '\t' + tsvEscaped(p.description) + '\n';
    }
    print(lines);
}

int PictureCommand::get()
{
    if (m_picture.arguments.size() != 1)
        return usage("picture get takes one audio file");
    const QByteArray path = m_picture.arguments.first();
    PictureFile file(path);
    if (!open(file, path))
        return status();
    const QList<StoredPicture> pictures = file.pictures();
    int index = m_picture.index;
    const int wantedType = m_picture.type >= 0 ? m_picture.type : 3;
    for (qsizetype i = 0; index < 0 && i < pictures.size(); ++i) {
        if (pictures[i].type == wantedType)
            index = int(i);
    }
    if (index < 0 && m_picture.type < 0 && !pictures.isEmpty())
        index = 0;
    if (index < 0 || index >= pictures.size()) {
        fail(path, pictures.isEmpty() ? QByteArray("holds no picture")
                                      : "holds no such picture (see 'tagora-cli picture ls')");
        return status();
    }
    const StoredPicture& picture = pictures[index];
    const QByteArray output = m_picture.output.isEmpty() ? pictureTypeName(picture.type) + '.' +
                                                               extensionFor(picture.mimeType)
                                                         : m_picture.output;
    if (output == "-") {
        writeBytes(stdout, picture.data);
        return status();
    }
    struct stat info;
    if (::stat(output.constData(), &info) == 0 && !m_picture.force) {
        fail(output, "exists; left alone (--force replaces it)");
        return status();
    }
    std::FILE* out = std::fopen(output.constData(), "wb");
    const bool written =
        out && std::fwrite(picture.data.constData(), 1, size_t(picture.data.size()), out) ==
                   size_t(picture.data.size());
    if (!out || std::fclose(out) != 0 || !written)
        fail(output, "cannot be written: " + errorText(errno));
    else if (m_picture.output.isEmpty() && !m_options.quiet)
        writeBytes(stderr, "tagora-cli: wrote " + output + '\n');
    return status();
}

// Reads and checks the image to set; a failure is reported and nothing is written.
bool PictureCommand::readImage(const QByteArray& image, StoredPicture& picture)
{
    struct stat info;
    if (::stat(image.constData(), &info) != 0 || !S_ISREG(info.st_mode)) {
        fail(image, "not a readable image file; nothing was written");
        return false;
    }
    if (info.st_size > kMaxForcedBytes) {
        fail(image, "is over 64 MiB, more than a picture can hold; nothing was written");
        return false;
    }
    if (info.st_size > kMaxImageBytes && !m_picture.force) {
        fail(image,
             "is " + QByteArray::number(double(info.st_size) / (1 << 20), 'f', 1) +
                 " MiB, over the 16 MiB limit; nothing was written (--force sets it anyway)");
        return false;
    }
    std::FILE* in = std::fopen(image.constData(), "rb");
    picture.data.resize(qsizetype(info.st_size));
    const bool read =
        in && std::fread(picture.data.data(), 1, size_t(info.st_size), in) == size_t(info.st_size);
    if (in)
        std::fclose(in);
    ImageInfo header;
    QByteArray reason = "unreadable: " + errorText(errno);
    if (!read || !inspectImage(picture.data, header, reason)) {
        fail(image, reason + "; nothing was written");
        return false;
    }
    picture.mimeType = header.mimeType;
    picture.type = m_picture.type >= 0 ? m_picture.type : 3;
    picture.description = m_picture.description;
    return true;
}

int PictureCommand::set()
{
    if (m_picture.arguments.size() < 2)
        return usage("picture set needs an image and at least one file or folder");
    StoredPicture picture;
    if (!readImage(m_picture.arguments.first(), picture) || !startJournal())
        return status();
    forEachFile(m_picture.arguments.mid(1), [&](const QByteArray& path) {
        PictureFile file(path);
        if (!open(file, path))
            return;
        const QList<StoredPicture> before = file.pictures();
        if (!file.set(picture)) {
            fail(path, "its type cannot hold this picture as given (MP4: front covers without "
                       "a description only; FLAC: 16 MiB at most); left alone");
            return;
        }
        changePictures(file, path, before);
    });
    finish();
    return status();
}

int PictureCommand::remove()
{
    const int choices = int(m_picture.all) + int(m_picture.index >= 0) + int(m_picture.type >= 0);
    if (choices != 1)
        return usage("picture rm takes one of --all, -i N and --type T");
    if (m_picture.arguments.isEmpty())
        return usage("picture rm needs at least one file or folder");
    if (!startJournal())
        return status();
    forEachFile(m_picture.arguments, [&](const QByteArray& path) {
        PictureFile file(path);
        if (!open(file, path))
            return;
        const QList<StoredPicture> before = file.pictures();
        if (removeChosen(file, path, int(before.size())))
            changePictures(file, path, before);
    });
    finish();
    return status();
}

// Removes the pictures the options choose; false when a chosen index is not there.
bool PictureCommand::removeChosen(PictureFile& file, const QByteArray& path, int count)
{
    if (m_picture.all) {
        file.remove(-1);
    } else if (m_picture.index >= 0) {
        if (m_picture.index >= count) {
            fail(path, "has no picture " + QByteArray::number(m_picture.index));
            return false;
        }
        file.remove(m_picture.index);
    } else {
        const QList<StoredPicture> pictures = file.pictures();
        for (int i = count - 1; i >= 0; --i) {
            if (pictures[i].type == m_picture.type)
                file.remove(i);
        }
    }
    return true;
}

int PictureCommand::run()
{
    if (m_picture.help) {
        writeBytes(stdout, pictureHelp());
        return kExitSuccess;
    }
    if (m_picture.action.isEmpty())
        return usage("picture needs an action: ls, get, set or rm");
    if (!PictureFile::available()) {
        writeBytes(stderr, "tagora-cli: libtagwrapper.so has no picture entry points\n");
        return kExitSomeFailed;
    }
    if (m_picture.action == "ls")
        return list();
    if (m_picture.action == "get")
        return get();
    return m_picture.action == "set" ? set() : remove();
}

int runPicture(const Options& options)
{
    PictureOptions picture;
    QByteArray error;
    if (!parsePictureOptions(options.arguments, picture, error)) {
        writeBytes(stderr,
                   "tagora-cli: " + terminalSafe(error) + "\nTry 'tagora-cli picture --help'.\n");
        return kExitUsage;
    }
    PictureCommand command(picture);
    return command.run();
}

// The pictures a record names, the bytes of the removed ones loaded from their blobs.
bool journalledPictures(const JournalRecord& record, QList<JournalledPicture>& added,
                        QList<JournalledPicture>& removed, QByteArray& reason)
{
    for (qsizetype i = 0; i < record.fields.size(); ++i) {
        JournalledPicture parsed;
        const bool isAdded = record.fields[i] == kAddedField;
        if ((!isAdded && record.fields[i] != kRemovedField) ||
            !parseJournalValue(record.values[i], parsed))
            continue;
        if (!isAdded && !pictureblobs::load(parsed.hash, parsed.picture.data)) {
            reason = "the removed picture's bytes are no longer kept in " + pictureblobs::folder();
            return false;
        }
        (isAdded ? added : removed).append(parsed);
    }
    return true;
}

void removeByHash(PictureFile& file, const JournalledPicture& picture)
{
    const QList<StoredPicture> now = file.pictures();
    for (qsizetype i = 0; i < now.size(); ++i) {
        if (now[i].type == picture.picture.type &&
            now[i].description == picture.picture.description &&
            pictureblobs::hashOf(now[i].data) == picture.hash) {
            file.remove(int(i));
            return;
        }
    }
}

} // namespace

void removeUnreferencedPictureBlobs(const Journal& journal)
{
    QSet<QByteArray> referenced;
    QByteArray reason;
    const bool read = journal.stream(
        [&](const JournalRecord& entry, bool) {
            for (qsizetype i = 0; i < entry.fields.size(); ++i) {
                JournalledPicture parsed;
                if (entry.fields[i] == kRemovedField && parseJournalValue(entry.values[i], parsed))
                    referenced.insert(parsed.hash);
            }
        },
        reason);
    // A journal that cannot be read may still name any of them.
    if (read)
        pictureblobs::removeAllBut(referenced);
}

QByteArray picturesJson(const QList<StoredPicture>& pictures)
{
    QByteArray out = "[";
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const StoredPicture& p = pictures[i];
        ImageInfo info;
        QByteArray reason;
        const bool known = inspectImage(p.data, info, reason);
        out += QByteArray(i ? ", " : "") + "{\"index\": " + QByteArray::number(i) +
               ", \"type\": \"" + pictureTypeName(p.type) +
               "\", \"mime\": " + jsonQuoted(QString::fromLatin1(p.mimeType)) +
               ", \"width\": " + (known ? QByteArray::number(info.width) : "null") +
               ", \"height\": " + (known ? QByteArray::number(info.height) : "null") +
               ", \"size\": " + QByteArray::number(p.data.size()) +
               ", \"description\": " + jsonQuoted(QString::fromUtf8(p.description)) + "}";
    }
    return out + ']';
}

QByteArray pictureHelp()
{
    return "Usage: tagora-cli picture ls|get|set|rm [OPTIONS] ...\n"
           "Embedded pictures (cover art), in each format's own picture item.\n"
           "  picture ls [-r] [--format table|json] PATH...\n"
           "      one line per picture: path, index, type, MIME type, width x height,\n"
           "      size in bytes, description\n"
           "  picture get [-i N | --type T] [-o FILE|-] [--force] FILE\n"
           "      writes the picture's bytes as stored (the first front cover, else the\n"
           "      first picture, by default) to FILE, '-' for standard output, or to\n"
           "      TYPE.EXT after its MIME type; an existing file is replaced only with --force\n"
           "  picture set [-r] [-n] [--type T] [--desc TEXT] [--force] IMAGE PATH...\n"
           "      puts IMAGE (a JPEG or PNG, 16 MiB at most unless --force) in place of\n"
           "      the picture of the same type and description, or beside the others\n"
           "  picture rm [-r] [-n] --all | -i N | --type T PATH...\n"
           "Types (front by default): " +
           pictureTypeNames().join(' ') +
           "\nMP4 files hold front covers without a description only.\n"
           "Replaced and removed pictures are kept beside the journal, so 'tagora-cli undo'\n"
           "puts them back byte for byte.\n"
           "\nOptions:\n"
           "  -r, --recursive  descend into sub-folders\n"
           "  -n, --dry-run    print what would change and write nothing\n"
           "  -q, --quiet      no progress line\n"
           "  -h, --help       this help\n";
}

// Defined here, beside the journal's picture lines it writes.
void FileCommand::changePictures(PictureFile& file, const QByteArray& path,
                                 const QList<StoredPicture>& before)
{
    const QList<StoredPicture> after = file.pictures();
    const QList<StoredPicture> added = missingFrom(before, after);
    const QList<StoredPicture> removed = missingFrom(after, before);
    if (added.isEmpty() && removed.isEmpty()) {
        ++m_unchanged;
        return;
    }
    if (m_options.dryRun) {
        ++m_changed;
        print(changeLines(path, added, removed));
        return;
    }
    // Checked before any bytes are kept, so a file that cannot change leaves none behind.
    if (::access(path.constData(), W_OK) != 0) {
        fail(path, "read-only: " + errorText(errno));
        return;
    }
    for (const StoredPicture& picture : removed) {
        if (!pictureblobs::keep(picture.data)) {
            fail(path, "cannot keep the old picture for undo in " + pictureblobs::folder() + ": " +
                           errorText(errno) + "; left alone");
            return;
        }
    }
    JournalRecord entry = pictureRecord(path, file.opened(), added, removed);
    if (writeAhead(entry, path))
        settle(entry, save(path, file.opened(), TagSave::openFile(file)));
}

// Each picture the change removed goes back in place of the one that replaced it (same type
// and description); the other added ones are taken away, the other removed ones added after
// the rest.
bool undoPictureRecord(const JournalRecord& record, bool dryRun, QByteArray& reason)
{
    QList<JournalledPicture> added;
    QList<JournalledPicture> removed;
    if (!journalledPictures(record, added, removed, reason))
        return false;
    PictureFile file(record.path);
    if (!file.isOpen()) {
        reason = "not an audio file of a known type";
        return false;
    }
    bool stored = true;
    QList<JournalledPicture> unpaired;
    for (const JournalledPicture& old : std::as_const(removed)) {
        const auto replacement = std::find_if(added.begin(), added.end(), [&](const auto& a) {
            return a.picture.type == old.picture.type &&
                   a.picture.description == old.picture.description;
        });
        if (replacement == added.end()) {
            unpaired.append(old);
            continue;
        }
        added.erase(replacement);
        stored = file.set(old.picture) && stored;
    }
    for (const JournalledPicture& extra : std::as_const(added))
        removeByHash(file, extra);
    for (const JournalledPicture& old : std::as_const(unpaired))
        stored = file.add(old.picture) && stored;
    if (!stored)
        reason = "the file cannot hold a picture it held";
    else if (!dryRun && !saveTags(record.path, TagSave::openFile(file)))
        reason = "save failed";
    return reason.isEmpty();
}

extern const Command kPictureCommand = {
    "picture", "*", "Usage: tagora-cli picture ls|get|set|rm ... (cover art; see its --help)\n",
    false, &runPicture};

} // namespace tagora::cli
