#pragma once

#include <QByteArray>
#include <QList>

namespace tagora::cli {

// Runs one tagora-cli command line (the arguments after the program name) and gives the
// exit status: 0 when everything succeeded, 1 when some files failed (each named once on
// stderr as "tagora-cli: <path>: <reason>"), 2 for a usage error. Results go to stdout.
// The tag library must be loaded for the commands that read or write files.
int runCommandLine(const QList<QByteArray>& argv);

} // namespace tagora::cli
