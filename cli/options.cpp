#include "options.h"

#include "tags/tagfields.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tagora::cli {
namespace {

struct CommandInfo
{
    const char* name;
    // The option letters it takes: r n q f a F(ormat) w(here) t s c L p(ictures); "*" for
    // a command that reads its own.
    const char* options;
    const char* help;
};

const std::array<CommandInfo, 17> kCommands = {{
    {"ls", "rqFwL",
     "Usage: tagora-cli ls [-r] [--format table|tsv|csv|json] [--fields F1,F2...] PATH...\n"
     "One row per audio file: the path, the ten fields, the length in seconds and\n"
     "the number of pictures (json: each picture's type, MIME type, size and\n"
     "description).\n"
     "The table is sized to the terminal; tsv, csv and json hold every value whole\n"
     "and keep file names byte for byte (json writes bytes that are not UTF-8 as\n"
     "\\udcXX). The csv is what 'import' reads back.\n"
     "--fields adds columns: named fields (see 'get'; json gives several values as\n"
     "an array) and tags (the tag types, 'ID3v2.3, APE, ID3v1'), codec, bitrate,\n"
     "samplerate, channels, lengthms, size.\n"},
    {"get", "rqw",
     "Usage: tagora-cli get [-r] FIELD PATH...\n"
     "Prints FIELD of each file as 'PATH<tab>VALUE' (the bare value for one file).\n"
     "FIELD is one of the ten fields or any name TagLib's property interface knows,\n"
     "case ignored: ALBUMARTIST, DISCNUMBER, COMPOSER, LYRICS, TITLESORT,\n"
     "REPLAYGAIN_TRACK_GAIN, MUSICBRAINZ_ALBUMID, ... or a free-form name. Several\n"
     "values are joined by '; '.\n"},
    {"info", "rq",
     "Usage: tagora-cli info [-r] PATH...\n"
     "Prints everything a file holds: its tag types (with the ID3v2 version), codec,\n"
     "bitrate, sample rate, channels, length in ms and size, every property with all\n"
     "its values, and each picture by type, MIME type and size.\n"},
    {"set", "rnqwtsV",
     "Usage: tagora-cli set [-r] [-n] [-t [--strict]] [--id3v2 3|4] FIELD=VALUE... PATH...\n"
     "Changes only the named fields; 'FIELD=' with nothing after '=' empties it.\n"
     "With -t each VALUE is a template of the file's own fields, as in 'rename':\n"
     "  tagora-cli set -t 'title=%track:2% %title%' *.mp3\n"
     "An empty field gives nothing; --strict refuses the file instead.\n"
     "Named fields (see 'get') take several values, 'NAME=A; B'; 'NAME+=V' adds a\n"
     "value, 'NAME-=V' removes it, 'NAME=' removes the field. A file whose type\n"
     "cannot hold a name is reported and left alone.\n"},
    {"strip", "rnqw",
     "Usage: tagora-cli strip [-r] [-n] PATH...\n"
     "Removes each file's tag, as Remove Tag does in the window. The journal keeps\n"
     "the ten fields, so 'undo' brings those back; other items the tag held\n"
     "(pictures, lyrics, ...) are not kept and do not come back.\n"},
    {"copy", "rnqwpV",
     "Usage: tagora-cli copy [-r] [-n] [--pictures] [--id3v2 3|4] SOURCE TARGET...\n"
     "Puts the ten fields of SOURCE onto each target, as Copy Tag, Paste Tag and\n"
     "Save do in the window. --pictures gives each target SOURCE's pictures too\n"
     "(in place of its own).\n"},
    {"fill", "rnqwV",
     "Usage: tagora-cli fill [-r] [-n] [--id3v2 3|4] PATTERN PATH...\n"
     "Fills fields from each file name (without folder and extension), e.g.\n"
     "  tagora-cli fill '%track% - %artist% - %title%' *.mp3\n"
     "The text between placeholders must match; a name that does not match is\n"
     "reported and left alone.\n"},
    {"rename", "rnqw",
     "Usage: tagora-cli rename [-r] [-n] PATTERN PATH...\n"
     "Renames each file from its fields, keeping its folder and extension, e.g.\n"
     "  tagora-cli rename '%track:2% - %title%' *.flac\n"
     "Placeholders (in fill too) may name fields by name: %albumartist%.\n"
     "%field:N% pads a number to N digits; '/' and NUL in a value become '_'.\n"
     "An existing file is never replaced, two files never get one name, and an\n"
     "empty name is refused.\n"},
    {"import", "nqV",
     "Usage: tagora-cli import [-n] [--id3v2 3|4] [FILE.csv|-]\n"
     "Writes the csv of 'ls --format csv' (standard input when no file or '-' is\n"
     "given) back into the files it names. The path column is required; a missing\n"
     "field column leaves that field alone, an empty cell empties it, and the\n"
     "length column is ignored.\n"},
    {"convert", "rnqfwV",
     "Usage: tagora-cli convert --id3v2 3|4 [-r] [-n] [--force] PATH...\n"
     "Writes each MPEG file's ID3v2 tag in version 2.3 or 2.4 and changes nothing\n"
     "else: every frame the version can hold is carried over (a full date as TYER,\n"
     "TDAT and TIME in 2.3, as TDRC in 2.4). A file with frames the version cannot\n"
     "hold (TSOT, TMOO, ... in 2.3; RVAD, EQUA, ... in 2.4) is named with them and\n"
     "left alone unless --force is given, which drops them. 'undo' gives the file\n"
     "its version back, not the frames dropped.\n"},
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
    {"replace", "rnqw",
     "Usage: tagora-cli replace [-r] [-n] FIELD REGEX REPLACEMENT PATH...\n"
     "Replaces every match of REGEX (Qt's regular expressions) in FIELD; \\1, \\2,\n"
     "... in REPLACEMENT stand for the captures, e.g.\n"
     "  tagora-cli replace title ' \\(feat\\. .*\\)$' '' -r Music\n"},
    {"case", "rnqwc",
     "Usage: tagora-cli case [-r] [-n] FIELD... --title|--sentence|--upper|--lower PATH...\n"
     "Changes the letter case of the fields. Title case keeps a, an, and, of, the\n"
     "and other short words in lower case unless first or last; title and sentence\n"
     "case leave words in capitals (AC/DC, USA) and with inner capitals (McCartney)\n"
     "as they are.\n"},
    {"trim", "rnqw",
     "Usage: tagora-cli trim [-r] [-n] FIELD... PATH...\n"
     "Removes leading and trailing spaces and makes each run of spaces one.\n"},
    {"edit", "rnqfwL",
     "Usage: tagora-cli edit [-r] [-n] [--force] [--fields F1,F2...] PATH...\n"
     "Opens the files' fields as a table (tsv, one row per file, the path first) in\n"
     "$VISUAL or $EDITOR, then writes only the cells changed there. A row whose path\n"
     "was changed, removed or doubled is refused; so is a file changed on disk in\n"
     "the meantime, unless --force is given.\n"},
    {"picture", "*", "Usage: tagora-cli picture ls|get|set|rm ... (cover art; see its --help)\n"},
}};

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
QByteArray optionsHelp(const CommandInfo& command)
{
    QByteArray help = "\nOptions:\n";
    for (const auto& [letter, line] : kOptionHelp) {
        if (std::strchr(command.options, letter))
            help += line;
    }
    help += "  -h, --help       this help\n";
    if (std::strcmp(command.name, "history") != 0 && std::strcmp(command.name, "undo") != 0)
        help += fieldsHelp();
    return help;
}

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
    return info ? QByteArray(info->help) + optionsHelp(*info) : programHelp();
}

} // namespace tagora::cli
