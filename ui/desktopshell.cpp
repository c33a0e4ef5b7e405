#include "desktopshell.h"

#include "services/messageboxes.h"

#include <QProcess>
#include <QStandardPaths>

namespace tagora {
namespace {

struct Opener
{
    const char* program;
    QStringList leadingArguments;
};

const Opener kOpeners[] = {{"xdg-open", {}},
                           {"gio", {QStringLiteral("open")}},
                           {"kde-open5", {}},
                           {"kde-open", {}},
                           {"exo-open", {}}};

} // namespace

bool DesktopShell::openUrl(const QUrl& url)
{
    // The encoded form is plain ASCII, so a file name that is not UTF-8 arrives intact.
    const QString address = QString::fromLatin1(url.toEncoded());
    for (const Opener& opener : kOpeners) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(opener.program));
        if (program.isEmpty())
            continue;
        // Not detached: only its end tells whether the opener found a program. It may run as
        // long as the program it started, and outlives this shell.
        auto* process = new QProcess;
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        QObject::connect(process, &QProcess::finished, process,
                         [process, url](int exitCode, QProcess::ExitStatus status) {
                             process->deleteLater();
                             if (status != QProcess::NormalExit || exitCode != 0)
                                 showStandardError(unableToOpenMessage(url));
                         });
        process->start(program, opener.leadingArguments + QStringList{address});
        if (process->waitForStarted())
            return true;
        delete process;
    }
    return false;
}

QString DesktopShell::openers() const
{
    QStringList names;
    for (const Opener& opener : kOpeners)
        names << (QStringList{QLatin1String(opener.program)} + opener.leadingArguments)
                     .join(QLatin1Char(' '));
    return names.join(QStringLiteral(", "));
}

bool DesktopShell::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace tagora
