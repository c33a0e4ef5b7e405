#include "shell.h"

#include "messageboxes.h"

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

void openOrReport(const QUrl& url, const QString& shownAs)
{
    if (shell().openUrl(url))
        return;
    const QString target = shownAs.isEmpty() ? url.toDisplayString() : shownAs;
    showStandardError(QStringLiteral("Unable to open ") + target + QStringLiteral("\r\n") +
                      noOpenerReason());
}

} // namespace tagora
