#include "tagoraapplication.h"

#include "services/messageboxes.h"

namespace tagora {

TagoraApplication::TagoraApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TagoraApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showUnhandled(std::current_exception());
    }
    return false;
}

} // namespace tagora
