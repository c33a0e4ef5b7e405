#include "app/tagoraapplication.h"
#include "services/messageboxes.h"
#include "services/namedmutex.h"
#include "ui/desktopshell.h"
#include "ui/taboutform.h"
#include "ui/tmainform.h"
#include "ui/tsettingsform.h"
#include "ui/widgetmessageboxes.h"

int main(int argc, char* argv[])
{
    // Marks a running instance for whoever cares; a second instance opens the first one's
    // mutex and runs all the same.
    const QString mutexName = QStringLiteral("TAGORA");
    tagora::NamedMutexes& mutexes = tagora::namedMutexes();
    tagora::NamedMutexes::Handle mutex = mutexes.open(mutexName);
    if (mutex == tagora::NamedMutexes::kNoHandle)
        mutex = mutexes.create(mutexName, true);

    // Qt takes its own options (-platform and the like); the program reads no argument.
    tagora::TagoraApplication app(argc, argv);
    tagora::WidgetMessageBoxes boxes;
    tagora::DesktopShell desktop;
    tagora::setMessageBoxes(&boxes);
    tagora::setShell(&desktop);
    tagora::setApplicationTitle(QStringLiteral("Tagora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tagora"));
    // Wayland desktops match the window to tagora.desktop, and so to its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tagora"));

    // The main window first (its FormCreate runs now), then the dialogs, hidden; they go
    // in the reverse order, the main window last.
    new tagora::TMainForm;
    new tagora::TAboutForm(tagora::MainForm);
    new tagora::TsettingsForm(tagora::MainForm);
    tagora::MainForm->show();
    const int result = app.exec();

    mutexes.release(mutex);
    delete tagora::settingsForm;
    delete tagora::AboutForm;
    delete tagora::MainForm;
    tagora::setShell(nullptr);
    tagora::setMessageBoxes(nullptr);
    return result;
}
