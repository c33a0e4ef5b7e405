#include "commands.h"

#include "cli/filecommand.h"
#include "cli/listformat.h"
#include "cli/signals.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace tagora::cli {

// Each defined beside its command's class.
extern const Command kListCommand;
extern const Command kGetCommand;
extern const Command kInfoCommand;
extern const Command kSetCommand;
extern const Command kStripCommand;
extern const Command kCopyCommand;
extern const Command kFillCommand;
extern const Command kRenameCommand;
extern const Command kImportCommand;
extern const Command kConvertCommand;
extern const Command kHistoryCommand;
extern const Command kUndoCommand;
extern const Command kReplaceCommand;
extern const Command kCaseCommand;
extern const Command kTrimCommand;
extern const Command kEditCommand;
extern const Command kPictureCommand;

const QList<const Command*>& commands()
{
    static const QList<const Command*> kAll = {
        &kListCommand,    &kGetCommand,     &kInfoCommand,    &kSetCommand,    &kStripCommand,
        &kCopyCommand,    &kFillCommand,    &kRenameCommand,  &kImportCommand, &kConvertCommand,
        &kHistoryCommand, &kUndoCommand,    &kReplaceCommand, &kCaseCommand,   &kTrimCommand,
        &kEditCommand,    &kPictureCommand,
    };
    return kAll;
}

const Command* commandNamed(const QByteArray& name)
{
    for (const Command* command : commands()) {
        if (name == command->name)
            return command;
    }
    return nullptr;
}

namespace {

int usage(const QByteArray& message)
{
    writeBytes(stderr, "tagora-cli: " + message + "\nTry 'tagora-cli --help'.\n");
    return kExitUsage;
}

// A command that reads its own options gets --help among its arguments.
int dispatch(const Options& options)
{
    const Command* command = commandNamed(options.command);
    if (command && *command->options == '*') {
        Options own = options;
        if (own.help)
            own.arguments = {"--help"};
        return command->run(own);
    }
    if (options.help) {
        writeBytes(stdout, commandHelp(options.command));
        return kExitSuccess;
    }
    if (!command)
        return usage("no command given");
    return command->run(options);
}

} // namespace

int runCommandLine(const QList<QByteArray>& argv)
{
    Options options;
    QByteArray error;
    if (!parseOptions(argv, options, error)) {
        writeBytes(stderr, "tagora-cli: " + terminalSafe(error) + "\nTry 'tagora-cli --help'.\n");
        return kExitUsage;
    }
    int status = dispatch(options);
    // A full disk under "ls > out.csv" must not pass for a whole listing.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        writeBytes(stderr, "tagora-cli: standard output: " + errorText(errno) + '\n');
        status = std::max(status, int(kExitSomeFailed));
    }
    if (const int signal = stopSignal()) {
        writeBytes(stderr, "tagora-cli: stopped by signal " + QByteArray::number(signal) +
                               "; the files done so far are journalled\n");
        status = 128 + signal;
    }
    return status;
}

} // namespace tagora::cli
