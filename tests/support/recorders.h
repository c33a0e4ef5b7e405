#pragma once

#include "services/messageboxes.h"
#include "services/shell.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace tagora::test {

struct ShownMessage
{
    QString text;
    MsgIcon icon;
    MsgButtons buttons;
};

// Records every message box instead of showing it; answers questions with `answer`.
// Installs itself for its lifetime.
class RecordingMessageBoxes : public MessageBoxes
{
public:
    RecordingMessageBoxes() { setMessageBoxes(this); }
    ~RecordingMessageBoxes() override { setMessageBoxes(nullptr); }
    MsgAnswer show(const QString& text, MsgIcon icon, MsgButtons buttons) override
    {
        shown.append({text, icon, buttons});
        return buttons == MsgButtons::YesNo ? answer : MsgAnswer::Ok;
    }
    QStringList texts() const
    {
        QStringList result;
        for (const ShownMessage& m : shown)
            result << m.text;
        return result;
    }

    QList<ShownMessage> shown;
    MsgAnswer answer = MsgAnswer::No;
};

struct StartedProgram
{
    QString program;
    QStringList arguments;
};

// Records what would have been handed to the desktop. Installs itself for its lifetime.
class RecordingShell : public Shell
{
public:
    RecordingShell() { setShell(this); }
    ~RecordingShell() override { setShell(nullptr); }
    bool openUrl(const QUrl& url) override
    {
        opened.append(url);
        return result;
    }
    bool startDetached(const QString& program, const QStringList& arguments) override
    {
        started.append({program, arguments});
        return result;
    }
    QString openers() const override { return QStringLiteral("recorded-open"); }

    QList<QUrl> opened;
    QList<StartedProgram> started;
    bool result = true;
};

} // namespace tagora::test
