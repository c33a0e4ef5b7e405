#include "cli/commands.h"
#include "cli/fieldcheck.h"
#include "cli/filecommand.h"
#include "cli/namepattern.h"
#include "cli/picturecommand.h"
#include "cli/picturefile.h"
#include "services/nativepath.h"
#include "tags/tagfields.h"
#include "tags/tagoperations.h"

namespace tagora::cli {
namespace {

// A fill's named fields as assignments: "A; B" gives two values, an empty text none.
QList<PropertyAssignment> namedAssignments(const NamedValues& named)
{
    QList<PropertyAssignment> assignments;
    for (auto it = named.cbegin(); it != named.cend(); ++it) {
        PropertyAssignment assignment;
        if (parsePropertyAssignment(it.key() + '=' + it.value().toUtf8(), assignment))
            assignments.append(assignment);
    }
    return assignments;
}

class StripCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;

private:
    void stripFile(const QByteArray& path);
};

class CopyCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;

private:
    bool picturesOf(const QByteArray& source, QList<StoredPicture>& pictures);
    void copyPicturesTo(const QByteArray& target, const QList<StoredPicture>& pictures);
};

class FillCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;
};

class ConvertCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;
};

int ConvertCommand::run()
{
    if (m_options.id3v2 == 0)
        return usage("convert needs --id3v2 3 or --id3v2 4");
    if (m_options.arguments.isEmpty())
        return usage("convert needs at least one file or folder");
    if (!namedFieldsAvailable())
        return usage("the tag library in use cannot choose the ID3v2 version");
    if (!startJournal())
        return status();
    forEachFile(m_options.arguments,
                [&](const QByteArray& path) { convertFile(path, m_options.id3v2); });
    summarize();
    return status();
}

int StripCommand::run()
{
    if (m_options.arguments.isEmpty())
        return usage("strip needs at least one file or folder");
    if (!startJournal())
        return status();
    forEachFile(m_options.arguments, [&](const QByteArray& path) { stripFile(path); });
    summarize();
    return status();
}

void StripCommand::stripFile(const QByteArray& path)
{
    FileIdentity before;
    audiotag original;
    if (!load(path, before, original))
        return;
    // The journal keeps all ten fields, whatever they hold, so undo can bring them back.
    QList<FieldChange> changes;
    for (const TagField& field : TagFields)
        changes.append({field.member, original.*field.member, QString()});
    if (m_options.dryRun) {
        print(terminalSafe(path) + ": tag removed\n");
        QList<FieldChange> shown;
        for (const FieldChange& change : std::as_const(changes)) {
            if (!change.before.isEmpty() && change.before != QLatin1String("0"))
                shown.append(change);
        }
        printChanges(path, shown);
        return;
    }
    JournalRecord entry = recordOf(path, before, changes);
    if (writeAhead(entry, path))
        settle(entry, save(path, before, TagSave::tagRemoved()));
}

int CopyCommand::run()
{
    if (m_options.arguments.size() < 2)
        return usage("copy needs a source file and at least one target");
    const QByteArray source = m_options.arguments.first();
    FileIdentity identity;
    audiotag copied;
    if (!load(source, identity, copied, false))
        return status();
    if (!startJournal())
        return status();
    QList<StoredPicture> pictures;
    const bool withPictures = m_options.pictures && picturesOf(source, pictures);
    changeFiles(
        m_options.arguments.mid(1),
        [&](const QByteArray&, audiotag& tag) {
            for (const TagField& field : TagFields)
                tag.*field.member = copied.*field.member;
            return true;
        },
        [&](const QByteArray& target) {
            if (withPictures)
                copyPicturesTo(target, pictures);
        });
    return status();
}

bool CopyCommand::picturesOf(const QByteArray& source, QList<StoredPicture>& pictures)
{
    const PictureFile sourceFile(source);
    if (!sourceFile.isOpen()) {
        fail(source, "its pictures cannot be read");
        return false;
    }
    pictures = sourceFile.pictures();
    return true;
}

// After the fields: a picture record of its own, in the same operation, so one undo puts
// back both.
void CopyCommand::copyPicturesTo(const QByteArray& target, const QList<StoredPicture>& pictures)
{
    FileIdentity identity;
    audiotag tag;
    if (stopped() || !load(target, identity, tag))
        return;
    PictureFile file(target);
    if (!file.isOpen()) {
        fail(target, "not an audio file of a known type");
        return;
    }
    const QList<StoredPicture> before = file.pictures();
    file.remove(-1);
    for (const StoredPicture& picture : pictures) {
        if (!file.add(picture)) {
            fail(target, "its type cannot hold the source's " + pictureTypeName(picture.type) +
                             " picture; pictures left alone");
            return;
        }
    }
    changePictures(file, target, before);
}

int FillCommand::run()
{
    if (m_options.arguments.size() < 2)
        return usage("fill needs a pattern and at least one file or folder");
    NamePattern pattern;
    QString reason;
    if (!pattern.parse(QString::fromUtf8(m_options.arguments.first()), reason,
                       namedFieldsAvailable()))
        return usage(reason.toUtf8());
    if (pattern.fields().isEmpty() && pattern.namedFields().isEmpty())
        return usage("the pattern names no field to fill");
    // Every name is matched before any file is written: one that gives a track or year
    // that is no number stops the whole command.
    const QList<QByteArray> files = collectFiles(m_options.arguments.mid(1));
    for (const QByteArray& file : files) {
        audiotag filled;
        if (!pattern.fill(pathFromNative(splitName(file).base), filled))
            continue;
        for (QString audiotag::*member : pattern.fields()) {
            if (!acceptedValue(member, filled.*member))
                return usage(file + ": " + refusalReason(member, filled.*member));
        }
    }
    if (!startJournal())
        return status();
    forEachListed(files, [&](const QByteArray& file) {
        const qint64 failures = m_failures;
        NamedValues named;
        changeFile(file, [&](const QByteArray& path, audiotag& tag) {
            if (pattern.fill(pathFromNative(splitName(path).base), tag, &named))
                return true;
            fail(path, "the name does not match the pattern; left alone");
            return false;
        });
        if (!named.isEmpty() && failures == m_failures)
            setNamedIn(file, namedAssignments(named));
        convertFile(file, m_options.id3v2);
    });
    summarize();
    return status();
}

} // namespace

extern const Command kStripCommand = {
    "strip", "rnqw",
    "Usage: tagora-cli strip [-r] [-n] PATH...\n"
    "Removes each file's tag, as Remove Tag does in the window. The journal keeps\n"
    "the ten fields, so 'undo' brings those back; other items the tag held\n"
    "(pictures, lyrics, ...) are not kept and do not come back.\n",
    true, &FileCommand::runAs<StripCommand>};

extern const Command kCopyCommand = {
    "copy", "rnqwpV",
    "Usage: tagora-cli copy [-r] [-n] [--pictures] [--id3v2 3|4] SOURCE TARGET...\n"
    "Puts the ten fields of SOURCE onto each target, as Copy Tag, Paste Tag and\n"
    "Save do in the window. --pictures gives each target SOURCE's pictures too\n"
    "(in place of its own).\n",
    true, &FileCommand::runAs<CopyCommand>};

extern const Command kFillCommand = {
    "fill", "rnqwV",
    "Usage: tagora-cli fill [-r] [-n] [--id3v2 3|4] PATTERN PATH...\n"
    "Fills fields from each file name (without folder and extension), e.g.\n"
    "  tagora-cli fill '%track% - %artist% - %title%' *.mp3\n"
    "The text between placeholders must match; a name that does not match is\n"
    "reported and left alone.\n",
    true, &FileCommand::runAs<FillCommand>};

extern const Command kConvertCommand = {
    "convert", "rnqfwV",
    "Usage: tagora-cli convert --id3v2 3|4 [-r] [-n] [--force] PATH...\n"
    "Writes each MPEG file's ID3v2 tag in version 2.3 or 2.4 and changes nothing\n"
    "else: every frame the version can hold is carried over (a full date as TYER,\n"
    "TDAT and TIME in 2.3, as TDRC in 2.4). A file with frames the version cannot\n"
    "hold (TSOT, TMOO, ... in 2.3; RVAD, EQUA, ... in 2.4) is named with them and\n"
    "left alone unless --force is given, which drops them. 'undo' gives the file\n"
    "its version back, not the frames dropped.\n",
    true, &FileCommand::runAs<ConvertCommand>};

} // namespace tagora::cli
