#include "options.h"

#include "cli/commands.h"
#include "tagora/audiotypes.h"
#include "tags/tagfields.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tagora::cli {
namespace {

// The help line of each option letter a command may take, in the order they are listed.
constexpr std::pair<char, const char*> kOptionHelp[] = {
    {'r', "  -r, --recursive  descend into sub-folders\n"},
    {'n', "  -n, --dry-run    print what would change (old → new) and write nothing\n"},
    {'q', "  -q, --quiet      no progress line\n"},
    {'t', "  -t, --template   each VALUE is a template of the file's own fields\n"},
    {'s', "      --strict     with -t: refuse a file whose template field is empty\n"},
    {'c', "      --title, --sentence, --upper, --lower  the case to give\n"},
    {'L', "      --fields F1,F2  only these fields (all ten by default)\n"},
    {'f', "      --force      also files changed since (undo) or meanwhile (edit)\n"},
    {'a', "      --all        undo every operation not undone yet\n"},
    {'F', "      --format F   table (the default), tsv, csv or json\n"},
    {'p', "      --pictures   the pictures too\n"},
    {'V', "      --id3v2 3|4  write MPEG files' ID3v2 tags in that version (each keeps its\n"
          "                   own by default)\n"},
    {'w', "      --where EXPR only files whose fields match EXPR; given again, all\n"
          "                   must match. FIELD=TEXT FIELD!=TEXT FIELD~REGEX FIELD:\n"
          "                   (empty) FIELD<N FIELD<=N FIELD>N FIELD>=N FIELD=N..M\n"
          "                   (length too)\n"},
};

// Bash completion reads the field names from this line.
QByteArray fieldsHelp()
{
    QByteArray line = "Fields:";
    for (const TagField& field : TagFields)
        line += ' ' + QByteArray(field.cliName);
    return line + '\n';
}

// The options part of a command's help: only what the command takes.
QByteArray optionsHelp(const Command& command)
{
    QByteArray help = "\nOptions:\n";
    for (const auto& [letter, line] : kOptionHelp) {
        if (std::strchr(command.options, letter))
            help += line;
    }
    help += "  -h, --help       this help\n";
    if (command.takesFields)
        help += fieldsHelp();
    return help;
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
    // The options of choosing files and of the value rules.
    static const std::array<std::pair<const char*, char>, 10> kRuleNames = {{
        {"--id3v2", 'V'},
        {"--where", 'w'},
        {"--fields", 'L'},
        {"-t", 't'},
        {"--template", 't'},
        {"--strict", 's'},
        {"--title", 'c'},
        {"--sentence", 'c'},
        {"--upper", 'c'},
        {"--lower", 'c'},
    }};
    // Only the options that take a value may take it after "=".
    const qsizetype equals = arg.startsWith("--") ? arg.indexOf('=') : -1;
    const QByteArray name = equals > 0 ? arg.left(equals) : arg;
    const auto letterIn = [&](const auto& names) -> char {
        for (const auto& [text, letter] : names) {
            if (name == text)
                return equals < 0 || std::strchr("FwLV", letter) ? letter : 0;
        }
        return 0;
    };
    const char letter = letterIn(kNames);
    return letter ? letter : letterIn(kRuleNames);
}

bool applyOption(char letter, const Command* command, Options& options, QByteArray& error)
{
    if (letter == 'h' || letter == 'v') {
        (letter == 'h' ? options.help : options.version) = true;
        return true;
    }
    if (!command || !std::strchr(command->options, letter)) {
        error = "this option does not apply here";
        return false;
    }
    bool* flags[] = {&options.recursive, &options.dryRun,    &options.quiet,  &options.force,
                     &options.all,       &options.templates, &options.strict, &options.pictures};
    *flags[std::strchr("rnqfatsp", letter) - "rnqfatsp"] = true;
    return true;
}

// The value of an option given as "--name=VALUE" or "--name VALUE"; false at the end of argv.
bool takeValue(const QList<QByteArray>& argv, qsizetype& i, QByteArray& value)
{
    const qsizetype equals = argv[i].indexOf('=');
    if (equals > 0)
        value = argv[i].mid(equals + 1);
    else if (i + 1 < argv.size())
        value = argv[++i];
    else
        return false;
    return true;
}

bool takeFormat(const QList<QByteArray>& argv, qsizetype& i, Options& options, QByteArray& error)
{
    QByteArray name;
    takeValue(argv, i, name);
    const std::optional<ListFormat> format = listFormatNamed(name);
    if (!format) {
        error = "unknown format '" + name + "' (table, tsv, csv or json)";
        return false;
    }
    options.format = *format;
    return true;
}

bool takeId3v2Version(const QList<QByteArray>& argv, qsizetype& i, Options& options,
                      QByteArray& error)
{
    QByteArray value;
    takeValue(argv, i, value);
    if (value != "3" && value != "4") {
        error = "--id3v2 takes 3 or 4";
        return false;
    }
    options.id3v2 = value.toInt();
    return true;
}

bool takeRuleOption(const QList<QByteArray>& argv, qsizetype& i, char letter, Options& options,
                    QByteArray& error)
{
    if (letter == 'c') {
        if (!options.letterCase.isEmpty() && options.letterCase != argv[i].mid(2))
            error = "give one of --title, --sentence, --upper or --lower";
        options.letterCase = argv[i].mid(2);
        return error.isEmpty();
    }
    QByteArray value;
    if (!takeValue(argv, i, value)) {
        error = "option '" + argv[i] + "' needs a value";
        return false;
    }
    (letter == 'w' ? options.where : options.fields).append(value);
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
                                        [](char c) { return std::strchr("rnqht", c) != nullptr; });
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
    const Command* command = nullptr;
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
        } else if (letter == 'V' && command && std::strchr(command->options, 'V')) {
            if (!takeId3v2Version(argv, i, options, error))
                return false;
        } else if ((letter == 'w' || letter == 'L' || letter == 'c') && command &&
                   std::strchr(command->options, letter)) {
            if (!takeRuleOption(argv, i, letter, options, error))
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

namespace {

// The extensions of every type the walk lists, wrapped for a terminal.
QByteArray extensionsHelp()
{
    QByteArray help;
    QByteArray line = " ";
    for (const AudioFileType& type : kAudioFileTypes) {
        if (line.size() + 2 + std::strlen(type.extension) > 78) {
            help += line + '\n';
            line = " ";
        }
        line += QByteArray(" .") + type.extension;
    }
    return help + line + '\n';
}

} // namespace

QByteArray programHelp()
{
    QByteArray help = "Usage: tagora-cli COMMAND [OPTIONS] ARGS...\n"
                      "Reads and writes the tags of audio files with the tag library of Tagora:\n" +
                      extensionsHelp() + "\nCommands:\n";
    for (const Command* info : commands())
        help +=
            "  " +
            QByteArray(info->help).mid(int(std::strlen("Usage: tagora-cli "))).split('\n').first() +
            '\n';
    help += "\nEvery change is journalled; 'tagora-cli undo' puts the last one back.\n"
            "'tagora-cli COMMAND --help' tells more. --version prints the version.\n"
            "Exit status: 0 all done, 1 some files failed (one line each on stderr),\n"
            "2 usage error.\n";
    return help;
}

QByteArray commandHelp(const QByteArray& command)
{
    const Command* info = commandNamed(command);
    return info ? QByteArray(info->help) + optionsHelp(*info) : programHelp();
}

} // namespace tagora::cli
