#pragma once

#include <QString>
#include <exception>
#include <utility>

namespace tagora {

enum class MsgIcon { None, Error, Information, Warning, Question };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

// Modal message boxes captioned with the application title. The real one lives in the
// widget layer; tests install a recorder.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    virtual MsgAnswer show(const QString& text, MsgIcon icon, MsgButtons buttons) = 0;
};

// The installed message boxes (not owned). Until the widget layer installs its own,
// messages go to standard error and questions are answered No.
MessageBoxes& messageBoxes();
void setMessageBoxes(MessageBoxes* boxes);

QString applicationTitle();
void setApplicationTitle(const QString& title);

// The standard error display: error icon, OK, and a full stop added when the message
// ends in a character above '.'.
QString standardErrorText(const QString& message);
void showStandardError(const QString& message);

// Shows an error that nobody handled; silent-abort errors show nothing.
void showUnhandled(std::exception_ptr error);

// Runs a handler the way the window framework runs event handlers: whatever it throws
// ends the handler and goes to the standard error display.
template <typename Handler> void runGuarded(Handler&& handler)
{
    try {
        std::forward<Handler>(handler)();
    } catch (...) {
        showUnhandled(std::current_exception());
    }
}

} // namespace tagora
