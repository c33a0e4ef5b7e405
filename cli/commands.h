#pragma once

#include "cli/options.h"

#include <QByteArray>
#include <QList>

namespace tagora::cli {

// One command of tagora-cli: all that the option check, the help, the dispatch and, through
// the help, the shell completion know of it. A command defines its entry beside its class;
// the list in commands.cpp names every entry once.
struct Command
{
    const char* name;
    // The option letters it takes: r n q f a F(ormat) w(here) t s c L p(ictures) V(id3v2);
    // "*" for a command that reads its own.
    const char* options;
    // "Usage: tagora-cli NAME ..." (the line the program's help lists), then what it does.
    const char* help;
    // Whether it takes the ten fields, so that its help ends with their names.
    bool takesFields;
    // Runs it on a parsed command line, the tag library loaded; gives the exit status.
    int (*run)(const Options& options);
};

// Every command, in the order the program's help lists them.
const QList<const Command*>& commands();
// The command of that name, or null.
const Command* commandNamed(const QByteArray& name);

// Runs one tagora-cli command line (the arguments after the program name) and gives the
// exit status: 0 when everything succeeded, 1 when some files failed (each named once on
// stderr as "tagora-cli: <path>: <reason>"), 2 for a usage error. Results go to stdout.
// The tag library must be loaded for the commands that read or write files.
int runCommandLine(const QList<QByteArray>& argv);

} // namespace tagora::cli
