#include "shell.h"

#include "messageboxes.h"
#include "nativepath.h"

namespace tagora {
namespace {

class NoShell : public Shell
{
public:
    bool openUrl(const QUrl&) override { return false; }
    bool startDetached(const QString&, const QStringList&) override { return false; }
    QString openers() const override { return QString(); }
};

NoShell g_noShell;
Shell* g_shell = &g_noShell;

} // namespace

Shell& shell()
{
    return *g_shell;
}

void setShell(Shell* newShell)
{
    g_shell = newShell ? newShell : &g_noShell;
}

QString noOpenerReason()
{
    const QString tried = shell().openers();
    if (tried.isEmpty())
        return QStringLiteral("No program could open it");
    return QStringLiteral("No program could open it; tried ") + tried;
}

QString unableToOpenMessage(const QUrl& url)
{
    const QString target = url.isLocalFile() ? pathFromNative(QByteArray::fromPercentEncoding(
                                                   url.path(QUrl::FullyEncoded).toLatin1()))
                                             : url.toDisplayString();
    return QStringLiteral("Unable to open ") + target + QStringLiteral("\r\n") + noOpenerReason();
}

void openOrReport(const QUrl& url)
{
    if (!shell().openUrl(url))
        showStandardError(unableToOpenMessage(url));
}

} // namespace tagora
