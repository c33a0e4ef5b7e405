#pragma once

#include "cli/journal.h"

#include <QByteArray>
#include <QList>

namespace tagora::cli {

// "tagora-cli picture ls|get|set|rm ...": `arguments` are those after "picture", options
// included, which the command reads itself. Gives the exit status as runCommandLine does.
int runPictureCommand(const QList<QByteArray>& arguments);

QByteArray pictureHelp();

// Puts back the pictures a "picture" record of the journal replaced or removed, and takes
// away those it added; with `dryRun` only checks that it could. False with a reason.
bool undoPictureRecord(const JournalRecord& record, bool dryRun, QByteArray& reason);

} // namespace tagora::cli
