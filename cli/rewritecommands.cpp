#include "cli/commands.h"
#include "cli/filecommand.h"
#include "cli/namepattern.h"
#include "cli/valuerules.h"

#include <QRegularExpression>

#include <algorithm>

namespace tagora::cli {
namespace {

// The fields named by the leading arguments, up to the first that names none.
QList<QString audiotag::*> leadingFields(const QList<QByteArray>& arguments)
{
    QList<QString audiotag::*> members;
    for (const QByteArray& arg : arguments) {
        QString audiotag::*member = memberNamed(QString::fromUtf8(arg));
        if (!member)
            break;
        members.append(member);
    }
    return members;
}

// The commands that put each chosen field's value through one rule.
class RewriteCommand : public FileCommand
{
public:
    using FileCommand::FileCommand;

protected:
    int rewrite(const QList<QString audiotag::*>& members, const QList<QByteArray>& paths,
                const std::function<QString(const QString&)>& rule);
};

class ReplaceCommand : public RewriteCommand
{
public:
    using RewriteCommand::RewriteCommand;
    int run() override;
};

class CaseCommand : public RewriteCommand
{
public:
    using RewriteCommand::RewriteCommand;
    int run() override;
};

class TrimCommand : public RewriteCommand
{
public:
    using RewriteCommand::RewriteCommand;
    int run() override;
};

int RewriteCommand::rewrite(const QList<QString audiotag::*>& members,
                            const QList<QByteArray>& paths,
                            const std::function<QString(const QString&)>& rule)
{
    if (members.isEmpty())
        return usage("'" + m_options.arguments.value(0) + "' is not a field");
    if (paths.isEmpty())
        return usage(m_options.command + " needs at least one file or folder");
    if (!startJournal())
        return status();
    changeFiles(paths, [&](const QByteArray&, audiotag& tag) {
        for (QString audiotag::*member : members)
            tag.*member = rule(tag.*member);
        return true;
    });
    return status();
}

int ReplaceCommand::run()
{
    const QList<QByteArray>& arguments = m_options.arguments;
    if (arguments.size() < 4)
        return usage("replace needs a field, an expression, a replacement and a file or folder");
    const QRegularExpression regex(QString::fromUtf8(arguments[1]));
    if (!regex.isValid())
        return usage("bad regular expression '" + arguments[1] +
                     "': " + regex.errorString().toUtf8());
    const QString replacement = QString::fromUtf8(arguments[2]);
    const int reference = highestCaptureReference(replacement);
    if (reference > regex.captureCount())
        return usage("the replacement refers to \\" + QByteArray::number(reference) + ", but '" +
                     arguments[1] + "' has " + QByteArray::number(regex.captureCount()) +
                     " captures");
    return rewrite(leadingFields(arguments.mid(0, 1)), arguments.mid(3),
                   [&](const QString& value) { return replaceMatches(value, regex, replacement); });
}

int CaseCommand::run()
{
    const std::pair<const char*, LetterCase> styles[] = {{"title", LetterCase::Title},
                                                         {"sentence", LetterCase::Sentence},
                                                         {"upper", LetterCase::Upper},
                                                         {"lower", LetterCase::Lower}};
    const auto style = std::find_if(std::begin(styles), std::end(styles), [&](const auto& pair) {
        return m_options.letterCase == pair.first;
    });
    if (style == std::end(styles))
        return usage("case needs one of --title, --sentence, --upper or --lower");
    const QList<QString audiotag::*> members = leadingFields(m_options.arguments);
    return rewrite(members, m_options.arguments.mid(members.size()), [&](const QString& value) {
        return tagora::cli::changeCase(value, style->second);
    });
}

int TrimCommand::run()
{
    const QList<QString audiotag::*> members = leadingFields(m_options.arguments);
    return rewrite(members, m_options.arguments.mid(members.size()), trimSpaces);
}

} // namespace

extern const Command kReplaceCommand = {
    "replace", "rnqw",
    "Usage: tagora-cli replace [-r] [-n] FIELD REGEX REPLACEMENT PATH...\n"
    "Replaces every match of REGEX (Qt's regular expressions) in FIELD; \\1, \\2,\n"
    "... in REPLACEMENT stand for the captures, e.g.\n"
    "  tagora-cli replace title ' \\(feat\\. .*\\)$' '' -r Music\n",
    true, &FileCommand::runAs<ReplaceCommand>};

extern const Command kCaseCommand = {
    "case", "rnqwc",
    "Usage: tagora-cli case [-r] [-n] FIELD... --title|--sentence|--upper|--lower PATH...\n"
    "Changes the letter case of the fields. Title case keeps a, an, and, of, the\n"
    "and other short words in lower case unless first or last; title and sentence\n"
    "case leave words in capitals (AC/DC, USA) and with inner capitals (McCartney)\n"
    "as they are.\n",
    true, &FileCommand::runAs<CaseCommand>};

extern const Command kTrimCommand = {
    "trim", "rnqw",
    "Usage: tagora-cli trim [-r] [-n] FIELD... PATH...\n"
    "Removes leading and trailing spaces and makes each run of spaces one.\n",
    true, &FileCommand::runAs<TrimCommand>};

} // namespace tagora::cli
