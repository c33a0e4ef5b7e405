#include "desktopshell.h"

#include <QDesktopServices>
#include <QProcess>

namespace tagora {

bool DesktopShell::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

bool DesktopShell::startDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace tagora
