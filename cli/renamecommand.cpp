#include "cli/commands.h"
#include "cli/filecommand.h"
#include "cli/namepattern.h"
#include "cli/picturefile.h"
#include "services/nativepath.h"

#include <QSet>

#include <sys/stat.h>

namespace tagora::cli {
namespace {

constexpr qsizetype kLongestName = 255; // bytes of one name in a folder (NAME_MAX)

class RenameCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;

private:
    bool planRename(const QByteArray& path, const NamePattern& pattern, QSet<QByteArray>& taken,
                    PlannedRename& plan);
};

int RenameCommand::run()
{
    if (m_options.arguments.size() < 2)
        return usage("rename needs a pattern and at least one file or folder");
    NamePattern pattern;
    QString reason;
    if (!pattern.parse(QString::fromUtf8(m_options.arguments.first()), reason,
                       namedFieldsAvailable()))
        return usage(reason.toUtf8());
    if (pattern.namesFolder())
        return usage("the pattern names a folder; a file is renamed in its own folder");
    if (pattern.fields().isEmpty() && pattern.namedFields().isEmpty())
        return usage("the pattern names no field, so every file would get one name");
    // The dry run and the real one share the plan, and with it every refusal.
    QList<PlannedRename> plans;
    QSet<QByteArray> taken;
    for (const QByteArray& file : collectFiles(m_options.arguments.mid(1))) {
        PlannedRename plan;
        if (planRename(file, pattern, taken, plan))
            plans.append(plan);
    }
    if (!startJournal())
        return status();
    m_progress = std::make_unique<Progress>(progressWanted(m_options.quiet), plans.size());
    for (const PlannedRename& plan : std::as_const(plans)) {
        if (stopped())
            break;
        renameFile(plan);
        m_progress->step();
    }
    m_progress.reset();
    summarize();
    return status();
}

bool RenameCommand::planRename(const QByteArray& path, const NamePattern& pattern,
                               QSet<QByteArray>& taken, PlannedRename& plan)
{
    FileIdentity identity;
    audiotag tag;
    if (!load(path, identity, tag))
        return false;
    NamedValues named;
    if (!pattern.namedFields().isEmpty()) {
        const PictureFile file(path);
        for (const QByteArray& name : pattern.namedFields())
            named.insert(name, shownValues(propertyValues(file.handle(), name)));
    }
    const QByteArray base = pathToNative(pattern.name(tag, named));
    if (base.trimmed().isEmpty()) {
        fail(path, "the pattern gives an empty name; left alone");
        return false;
    }
    const NameParts parts = splitName(path);
    plan = {path, parts.folder + base + parts.extension};
    if (base.size() + parts.extension.size() > kLongestName) {
        fail(path, "the new name is longer than 255 bytes; left alone");
        return false;
    }
    if (plan.to == path) {
        ++m_unchanged;
        return false;
    }
    const QByteArray key = absolutePath(plan.to);
    struct stat info;
    if (taken.contains(key)) {
        fail(path, "another file is already renamed to " + plan.to + "; left alone");
        return false;
    }
    if (::lstat(plan.to.constData(), &info) == 0) {
        fail(path, plan.to + " exists; left alone");
        return false;
    }
    taken.insert(key);
    return true;
}

} // namespace

extern const Command kRenameCommand = {
    "rename", "rnqw",
    "Usage: tagora-cli rename [-r] [-n] PATTERN PATH...\n"
    "Renames each file from its fields, keeping its folder and extension, e.g.\n"
    "  tagora-cli rename '%track:2% - %title%' *.flac\n"
    "Placeholders (in fill too) may name fields by name: %albumartist%.\n"
    "%field:N% pads a number to N digits; '/' and NUL in a value become '_'.\n"
    "An existing file is never replaced, two files never get one name, and an\n"
    "empty name is refused.\n",
    true, &FileCommand::runAs<RenameCommand>};

} // namespace tagora::cli
