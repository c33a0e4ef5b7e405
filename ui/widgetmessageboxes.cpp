#include "widgetmessageboxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace tagora {
namespace {

QMessageBox::Icon toQtIcon(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MsgAnswer WidgetMessageBoxes::show(const QString& text, MsgIcon icon, MsgButtons buttons)
{
    // A drag or held mouse button must not survive into the modal box.
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();

    const bool yesNo = buttons == MsgButtons::YesNo;
    QMessageBox box(toQtIcon(icon), applicationTitle(), text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    const int answer = box.exec();
    if (!yesNo)
        return MsgAnswer::Ok;
    return answer == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

} // namespace tagora
