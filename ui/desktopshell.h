#pragma once

#include "services/shell.h"

namespace tagora {

// The desktop's own openers and detached processes. A file or address goes to the first
// opener found on PATH: xdg-open, which hands it to the desktop's choice, then the openers
// of desktops without xdg-utils. An opener that ends in failure (gio finds no application
// for the type, say) is reported with the standard error display when it ends.
class DesktopShell : public Shell
{
public:
    bool openUrl(const QUrl& url) override;
    bool startDetached(const QString& program, const QStringList& arguments) override;
    QString openers() const override;
};

} // namespace tagora
