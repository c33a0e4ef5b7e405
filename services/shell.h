#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace tagora {

// Hands things to the desktop: documents and web pages to their associated programs,
// and other programs started on their own. The real one lives in the widget layer;
// tests install a recorder.
class Shell
{
public:
    virtual ~Shell() = default;
    // Opens a file or web address with the program the desktop associates with it; false when
    // no program could be started for it. An opener that starts and then fails reports that
    // itself (unableToOpenMessage).
    virtual bool openUrl(const QUrl& url) = 0;
    // Starts a program detached from Tagora with the given arguments, passed as they are.
    virtual bool startDetached(const QString& program, const QStringList& arguments) = 0;
    // The programs openUrl asks, as the user would look for them ("xdg-open, gio open").
    virtual QString openers() const = 0;
};

// Why a file or address could not be opened: no program took it, naming those tried.
QString noOpenerReason();

// What the user is told when no program could open `url`: "Unable to open ", the file's
// path (byte for byte) or the address, and on a second line noOpenerReason().
QString unableToOpenMessage(const QUrl& url);

// Opens `url` through the installed shell; when no program could be started for it, the
// standard error display shows unableToOpenMessage(url). GUI thread.
void openOrReport(const QUrl& url);

// The installed shell (not owned). Until one is installed, every request fails.
Shell& shell();
void setShell(Shell* shell);

} // namespace tagora
