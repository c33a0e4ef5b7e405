#include "messageboxes.h"

#include "errors.h"

#include <cstdio>

namespace tagora {
namespace {

class StderrMessageBoxes : public MessageBoxes
{
public:
    MsgAnswer show(const QString& text, MsgIcon, MsgButtons buttons) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
};

StderrMessageBoxes g_fallbackBoxes;
MessageBoxes* g_boxes = &g_fallbackBoxes;
QString g_title = QStringLiteral("Tagora");

} // namespace

MessageBoxes& messageBoxes()
{
    return *g_boxes;
}

void setMessageBoxes(MessageBoxes* boxes)
{
    g_boxes = boxes ? boxes : &g_fallbackBoxes;
}

QString applicationTitle()
{
    return g_title;
}

void setApplicationTitle(const QString& title)
{
    g_title = title;
}

QString standardErrorText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void showStandardError(const QString& message)
{
    messageBoxes().show(standardErrorText(message), MsgIcon::Error, MsgButtons::Ok);
}

void showUnhandled(std::exception_ptr error)
{
    try {
        std::rethrow_exception(std::move(error));
    } catch (const EAbort&) {
    } catch (const Error& e) {
        showStandardError(e.message());
    } catch (const std::exception& e) {
        showStandardError(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        showStandardError(QStringLiteral("Unknown error"));
    }
}

} // namespace tagora
