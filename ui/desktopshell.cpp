#include "desktopshell.h"

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
        if (!program.isEmpty() &&
            QProcess::startDetached(program, opener.leadingArguments + QStringList{address}))
            return true;
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
