#pragma once

#include "cli/listformat.h"

#include <QByteArray>
#include <QList>

namespace tagora::cli {

enum ExitStatus
{
    kExitSuccess = 0,
    kExitSomeFailed = 1,
    kExitUsage = 2
};

// A command line taken apart: the command, its options wherever they stand (until "--"),
// and the remaining arguments in order.
struct Options
{
    QByteArray command;
    bool help = false;
    bool version = false;
    bool recursive = false;
    bool dryRun = false;
    bool quiet = false;
    bool force = false;
    bool all = false;
    bool templates = false; // set -t: values are %field% templates
    bool strict = false;    // a template's empty field refuses the file
    bool pictures = false;  // copy --pictures
    int id3v2 = 0;          // --id3v2: the ID3v2 version to write; 0 keeps each file's
    ListFormat format = ListFormat::Table;
    QList<QByteArray> where;  // --where conditions, all of which must hold
    QList<QByteArray> fields; // edit --fields, one or more comma-separated lists
    QByteArray letterCase;    // case --title, --sentence, --upper or --lower, without "--"
    QList<QByteArray> arguments;
};

// Parses argv (without the program name). False with a message on a usage error: an
// unknown command or option, or an option the command does not take.
bool parseOptions(const QList<QByteArray>& argv, Options& options, QByteArray& error);

// The program's help, or a command's.
QByteArray programHelp();
QByteArray commandHelp(const QByteArray& command);

} // namespace tagora::cli
