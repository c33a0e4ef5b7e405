#pragma once

#include "services/shell.h"

namespace tagora {

// The desktop's own handlers (xdg-open and friends through Qt) and detached processes.
class DesktopShell : public Shell
{
public:
    bool openUrl(const QUrl& url) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
};

} // namespace tagora
