#include "services/messageboxes.h"
#include "ui/desktopshell.h"
#include "ui/taboutform.h"
#include "ui/tmainform.h"
#include "ui/tsettingsform.h"
#include "ui/widgetmessageboxes.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    tagora::WidgetMessageBoxes boxes;
    tagora::DesktopShell desktop;
    tagora::setMessageBoxes(&boxes);
    tagora::setShell(&desktop);
    tagora::setApplicationTitle(QStringLiteral("Tagora"));

    // The dialogs are created after the main window, hidden, and destroyed before it.
    new tagora::TMainForm;
    new tagora::TAboutForm(tagora::MainForm);
    new tagora::TsettingsForm(tagora::MainForm);
    tagora::MainForm->show();
    const int result = app.exec();
    delete tagora::settingsForm;
    delete tagora::AboutForm;
    delete tagora::MainForm;
    return result;
}
