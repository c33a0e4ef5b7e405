#include "services/messageboxes.h"
#include "ui/desktopshell.h"
#include "ui/widgetmessageboxes.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    tagora::WidgetMessageBoxes boxes;
    tagora::DesktopShell desktop;
    tagora::setMessageBoxes(&boxes);
    tagora::setShell(&desktop);
    tagora::setApplicationTitle(QStringLiteral("Tagora"));
    QMainWindow window;
    window.show();
    return app.exec();
}
