#include "cli/commands.h"
#include "cli/fieldcheck.h"
#include "cli/filecommand.h"
#include "cli/namepattern.h"
#include "cli/valuerules.h"

#include <algorithm>
#include <unistd.h>

namespace tagora::cli {
namespace {

// "word=..." with a word that could be a field's name.
bool looksLikeAssignment(const QByteArray& arg)
{
    const qsizetype equals = arg.indexOf('=');
    return equals > 0 && std::all_of(arg.begin(), arg.begin() + equals, [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
           });
}

class SetCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;
    int run() override;
};

int SetCommand::run()
{
    QList<std::pair<QString audiotag::*, QString>> assignments;
    QList<PropertyAssignment> named;
    qsizetype next = 0;
    for (; next < m_options.arguments.size(); ++next) {
        const QByteArray& arg = m_options.arguments[next];
        const qsizetype equals = arg.indexOf('=');
        QString audiotag::*member =
            equals > 0 ? memberNamed(QString::fromUtf8(arg.left(equals))) : nullptr;
        PropertyAssignment property;
        const bool isNamed = !member && ::access(arg.constData(), F_OK) != 0 &&
                             parsePropertyAssignment(arg, property);
        if (isNamed && memberNamed(QString::fromUtf8(property.name)))
            return usage("'" + arg + "': += and -= take named fields, not the ten");
        if (!member && !isNamed && assignments.isEmpty() && named.isEmpty())
            return usage("'" + arg + "' is not FIELD=VALUE with a known field");
        if (isNamed) {
            named.append(property);
            continue;
        }
        if (!member)
            break;
        const QString value = QString::fromUtf8(arg.mid(equals + 1));
        // A template's value is known per file, and checked there.
        if (!m_options.templates && !acceptedValue(member, value))
            return usage(refusalReason(member, value));
        assignments.append({member, value});
    }
    const QList<QByteArray> paths = m_options.arguments.mid(next);
    if (paths.isEmpty())
        return usage("set needs at least one file or folder");
    // "foo=bar" among the paths is a mistyped field unless a file has that name.
    for (const QByteArray& path : paths) {
        if (looksLikeAssignment(path) && ::access(path.constData(), F_OK) != 0)
            return usage("'" + path + "' is not FIELD=VALUE with a known field");
    }
    if (m_options.strict && !m_options.templates)
        return usage("--strict goes with -t");
    if (!named.isEmpty() && m_options.templates)
        return usage("-t takes the ten fields only");
    if (!named.isEmpty() && !namedFieldsAvailable())
        return usage("the tag library in use reads no fields by name");
    QList<NamePattern> templates(assignments.size());
    for (qsizetype i = 0; m_options.templates && i < assignments.size(); ++i) {
        QString reason;
        if (!templates[i].parse(assignments[i].second, reason))
            return usage(reason.toUtf8());
    }
    if (!startJournal())
        return status();
    const TagEdit edit = [&](const QByteArray& path, audiotag& tag) {
        const audiotag original = tag;
        for (qsizetype i = 0; i < assignments.size(); ++i) {
            const QList<QString audiotag::*> empty = templates[i].emptyFields(original);
            if (m_options.strict && !empty.isEmpty()) {
                fail(path, "%" + scriptName(empty.first()) + "% is empty; left alone (--strict)");
                return false;
            }
            const QString value =
                m_options.templates ? templates[i].text(original) : assignments[i].second;
            if (!acceptedValue(assignments[i].first, value)) {
                fail(path, refusalReason(assignments[i].first, value) + "; left alone");
                return false;
            }
            tag.*assignments[i].first = value;
        }
        return true;
    };
    // Two changes of one file in one group would both start from its old bytes.
    if (assignments.isEmpty() != named.isEmpty() && m_options.id3v2 == 0 && !m_options.dryRun)
        m_group = std::make_unique<GroupCommit>(m_journal);
    // The ten fields and the named ones are two changes, journalled each; a file refused for
    // the first is left alone.
    forEachFile(paths, [&](const QByteArray& path) {
        const qint64 failures = m_failures;
        if (!assignments.isEmpty())
            changeFile(path, edit);
        if (!named.isEmpty() && failures == m_failures)
            setNamedIn(path, named);
        convertFile(path, m_options.id3v2);
    });
    if (m_group)
        commitGroup();
    summarize();
    return status();
}

} // namespace

extern const Command kSetCommand = {
    "set", "rnqwtsV",
    "Usage: tagora-cli set [-r] [-n] [-t [--strict]] [--id3v2 3|4] FIELD=VALUE... PATH...\n"
    "Changes only the named fields; 'FIELD=' with nothing after '=' empties it.\n"
    "With -t each VALUE is a template of the file's own fields, as in 'rename':\n"
    "  tagora-cli set -t 'title=%track:2% %title%' *.mp3\n"
    "An empty field gives nothing; --strict refuses the file instead.\n"
    "Named fields (see 'get') take several values, 'NAME=A; B'; 'NAME+=V' adds a\n"
    "value, 'NAME-=V' removes it, 'NAME=' removes the field. A file whose type\n"
    "cannot hold a name is reported and left alone.\n",
    true, &FileCommand::runAs<SetCommand>};

} // namespace tagora::cli
