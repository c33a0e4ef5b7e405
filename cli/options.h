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
    bool pictures = false;
    ListFormat format = ListFormat::Table;
    QList<QByteArray> arguments;
};

// Parses argv (without the program name). False with a message on a usage error: an
// unknown command or option, or an option the command does not take.
bool parseOptions(const QList<QByteArray>& argv, Options& options, QByteArray& error);

// The program's help, or a command's.
QByteArray programHelp();
QByteArray commandHelp(const QByteArray& command);

} // namespace tagora::cli
