#pragma once
// tagora-cli run as a user runs it, with its journal kept in a test's own state folder.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace tagora::test {

struct CliRun
{
    int code = -1; // -1 when the program did not end by itself within a minute
    QByteArray out;
    QByteArray err;
};

struct CliPlace
{
    QString stateFolder;            // XDG_STATE_HOME: where the journal goes
    QString workingFolder = {};     // empty: the test's own
    QProcessEnvironment extra = {}; // more variables, such as an editor
};

inline CliRun runCli(const QString& program, const QStringList& arguments, const CliPlace& place,
                     const QByteArray& input = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), place.stateFolder);
    environment.insert(place.extra);
    process.setProcessEnvironment(environment);
    if (!place.workingFolder.isEmpty())
        process.setWorkingDirectory(place.workingFolder);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace tagora::test
