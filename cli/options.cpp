#include "options.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tagora::cli {
namespace {

struct CommandInfo
{
    const char* name;
    const char* options; // the option letters it takes: r n q f a F(ormat); * reads its own
    const char* help;
};

const std::array<CommandInfo, 11> kCommands = {{
    {"ls", "rqF",
     "Usage: tagora-cli ls [-r] [--format table|tsv|csv|json] PATH...\n"
     "One row per audio file: the path, the ten fields, the length in seconds and\n"
     "the number of pictures (json: each picture's type, MIME type, size and\n"
     "description).\n"
     "The table is sized to the terminal; tsv, csv and json hold every value whole\n"
     "and keep file names byte for byte (json writes bytes that are not UTF-8 as\n"
     "\\udcXX). The csv is what 'import' reads back.\n"},
    {"get", "rq",
     "Usage: tagora-cli get [-r] FIELD PATH...\n"
     "Prints FIELD of each file as 'PATH<tab>VALUE'.\n"},
    {"set", "rnq",
     "Usage: tagora-cli set [-r] [-n] FIELD=VALUE... PATH...\n"
     "Changes only the named fields; 'FIELD=' with nothing after '=' empties it.\n"},
    {"strip", "rnq",
     "Usage: tagora-cli strip [-r] [-n] PATH...\n"
     "Removes each file's tag, as Remove Tag does in the window. The journal keeps\n"
     "the ten fields, so 'undo' brings those back; other items the tag held\n"
     "(pictures, lyrics, ...) are not kept and do not come back.\n"},
    {"copy", "rnqp",
     "Usage: tagora-cli copy [-r] [-n] [--pictures] SOURCE TARGET...\n"
     "Puts the ten fields of SOURCE onto each target, as Copy Tag, Paste Tag and\n"
     "Save do in the window. --pictures gives each target SOURCE's pictures too\n"
     "(in place of its own).\n"},
    {"fill", "rnq",
     "Usage: tagora-cli fill [-r] [-n] PATTERN PATH...\n"
     "Fills fields from each file name (without folder and extension), e.g.\n"
     "  tagora-cli fill '%track% - %artist% - %title%' *.mp3\n"
     "The text between placeholders must match; a name that does not match is\n"
     "reported and left alone.\n"},
    {"rename", "rnq",
     "Usage: tagora-cli rename [-r] [-n] PATTERN PATH...\n"
     "Renames each file from its fields, keeping its folder and extension, e.g.\n"
     "  tagora-cli rename '%track:2% - %title%' *.flac\n"
     "%field:N% pads a number to N digits; '/' and NUL in a value become '_'.\n"
     "An existing file is never replaced, two files never get one name, and an\n"
     "empty name is refused.\n"},
    {"import", "nq",
     "Usage: tagora-cli import [-n] [FILE.csv|-]\n"
     "Writes the csv of 'ls --format csv' (standard input when no file or '-' is\n"
     "given) back into the files it names. The path column is required; a missing\n"
     "field column leaves that field alone, an empty cell empties it, and the\n"
     "length column is ignored.\n"},
    {"history", "q",
     "Usage: tagora-cli history [PATH...]\n"
     "Lists the changes tagora-cli made, newest last, optionally only those to the\n"
     "given files or folders. The journal is $XDG_STATE_HOME/tagora/journal\n"
     "(~/.local/state/tagora/journal).\n"},
    {"undo", "nqfa",
     "Usage: tagora-cli undo [-n] [--force] [N | --all]\n"
     "Puts back the previous values of the last N operations (1 by default) not\n"
     "undone yet, newest first. A file changed since the operation is refused and\n"
     "left alone unless --force is given. Undoing a strip brings back the ten\n"
     "fields; undoing a rename gives the old name back.\n"},
    {"picture", "*", "Usage: tagora-cli picture ls|get|set|rm ... (cover art; see its --help)\n"},
}};

constexpr char kCommonHelp[] = "\nOptions:\n"
                               "  -r, --recursive  descend into sub-folders\n"
                               "  -n, --dry-run    print what would change (old → new) and write "
                               "nothing\n"
                               "  -q, --quiet      no progress line\n"
                               "  -h, --help       this help\n"
                               "Fields: title artist album track year genre comment copyright bpm "
                               "key\n";

const CommandInfo* commandNamed(const QByteArray& name)
{
    for (const CommandInfo& info : kCommands) {
        if (name == info.name)
            return &info;
    }
    return nullptr;
}

// The letter of a long or short option, or 0 when there is none such.
char optionLetter(const QByteArray& arg)
{
    static const std::array<std::pair<const char*, char>, 13> kNames = {{
        {"-r", 'r'},
        {"--recursive", 'r'},
        {"-n", 'n'},
        {"--dry-run", 'n'},
        {"-q", 'q'},
        {"--quiet", 'q'},
        {"--force", 'f'},
        {"--all", 'a'},
        {"--pictures", 'p'},
        {"--format", 'F'},
        {"-h", 'h'},
        {"--help", 'h'},
        {"--version", 'v'},
    }};
    const QByteArray name = arg.startsWith("--format=") ? QByteArray("--format") : arg;
    for (const auto& [text, letter] : kNames) {
        if (name == text)
            return letter;
    }
    return 0;
}

bool applyOption(char letter, const CommandInfo* command, Options& options, QByteArray& error)
{
    if (letter == 'h' || letter == 'v') {
        (letter == 'h' ? options.help : options.version) = true;
        return true;
    }
    if (!command || !std::strchr(command->options, letter)) {
        error = "this option does not apply here";
        return false;
    }
    bool* flags[] = {&options.recursive, &options.dryRun, &options.quiet,
                     &options.force,     &options.all,    &options.pictures};
    *flags[std::strchr("rnqfap", letter) - "rnqfap"] = true;
    return true;
}

bool takeFormat(const QList<QByteArray>& argv, qsizetype& i, Options& options, QByteArray& error)
{
    QByteArray name;
    if (argv[i].startsWith("--format="))
        name = argv[i].mid(int(std::strlen("--format=")));
    else if (i + 1 < argv.size())
        name = argv[++i];
    const std::optional<ListFormat> format = listFormatNamed(name);
    if (!format) {
        error = "unknown format '" + name + "' (table, tsv, csv or json)";
        return false;
    }
    options.format = *format;
    return true;
}

// "-rn" stands for "-r -n" until "--"; single letters and everything else pass through.
QList<QByteArray> splitShortOptions(const QList<QByteArray>& argv)
{
    QList<QByteArray> split;
    bool optionsEnded = false;
    for (const QByteArray& arg : argv) {
        optionsEnded = optionsEnded || arg == "--";
        const bool bundle = !optionsEnded && arg.size() > 2 && arg[0] == '-' && arg[1] != '-' &&
                            std::all_of(arg.begin() + 1, arg.end(),
                                        [](char c) { return std::strchr("rnqh", c) != nullptr; });
        if (!bundle) {
            split.append(arg);
            continue;
        }
        for (qsizetype i = 1; i < arg.size(); ++i)
            split.append(QByteArray("-") + arg[i]);
    }
    return split;
}

} // namespace

bool parseOptions(const QList<QByteArray>& given, Options& options, QByteArray& error)
{
    const QList<QByteArray> argv = splitShortOptions(given);
    const CommandInfo* command = nullptr;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < argv.size(); ++i) {
        const QByteArray& arg = argv[i];
        const char letter = optionsEnded ? 0 : optionLetter(arg);
        if (command && *command->options == '*') {
            options.arguments.append(arg);
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (letter == 'F' && command && std::strchr(command->options, 'F')) {
            if (!takeFormat(argv, i, options, error))
                return false;
        } else if (letter) {
            if (!applyOption(letter, command, options, error)) {
                error = "option '" + arg + "' does not apply to " +
                        (command ? "'" + options.command + "'" : QByteArray("the program"));
                return false;
            }
        } else if (!optionsEnded && arg.startsWith('-') && arg != "-") {
            error = "unknown option '" + arg + "'";
            return false;
        } else if (!command) {
            command = commandNamed(arg);
            options.command = arg;
            if (!command) {
                error = "unknown command '" + arg + "'";
                return false;
            }
        } else {
            options.arguments.append(arg);
        }
    }
    return true;
}

QByteArray programHelp()
{
    QByteArray help = "Usage: tagora-cli COMMAND [OPTIONS] ARGS...\n"
                      "Reads and writes the tags of audio files (.mp3 .ogg .wma .ape .m4a "
                      ".flac)\nwith the tag library of Tagora.\n\nCommands:\n";
    for (const CommandInfo& info : kCommands)
        help +=
            "  " +
            QByteArray(info.help).mid(int(std::strlen("Usage: tagora-cli "))).split('\n').first() +
            '\n';
    help += "\nEvery change is journalled; 'tagora-cli undo' puts the last one back.\n"
            "'tagora-cli COMMAND --help' tells more. --version prints the version.\n"
            "Exit status: 0 all done, 1 some files failed (one line each on stderr),\n"
            "2 usage error.\n";
    return help;
}

QByteArray commandHelp(const QByteArray& command)
{
    const CommandInfo* info = commandNamed(command);
    return info ? QByteArray(info->help) + kCommonHelp : programHelp();
}

} // namespace tagora::cli
