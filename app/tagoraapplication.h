#pragma once

#include <QApplication>

namespace tagora {

// The application object. Handlers run guarded already; whatever still escapes an event
// handler on the GUI thread ends up in the standard error display here instead of ending
// the program.
class TagoraApplication : public QApplication
{
    Q_OBJECT

public:
    TagoraApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace tagora
