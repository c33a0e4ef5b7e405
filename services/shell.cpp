#include "shell.h"

namespace tagora {
namespace {

class NoShell : public Shell
{
public:
    bool openUrl(const QUrl&) override { return false; }
    bool startDetached(const QString&, const QStringList&) override { return false; }
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

} // namespace tagora
