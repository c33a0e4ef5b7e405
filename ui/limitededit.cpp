#include "limitededit.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QValidator>
#include <utility>

namespace tagora {

namespace {

bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\v') ||
           c == QLatin1Char('\f') || c == QChar(0x85) || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator;
}

// The field shows every line break as a blank; the text gets that blank too, so what is
// saved is what was shown. A CR-LF pair is one break and becomes one blank.
void joinLines(QString& input, int& pos)
{
    for (int i = 0; i < input.size(); ++i) {
        if (!isLineBreak(input.at(i)))
            continue;
        if (input.at(i) == QLatin1Char('\r') && i + 1 < input.size() &&
            input.at(i + 1) == QLatin1Char('\n')) {
            input.remove(i + 1, 1);
            if (pos > i + 1)
                --pos;
        }
        input[i] = QLatin1Char(' ');
    }
}

} // namespace

// QLineEdit runs its validator after every change, from the user or from setText, and
// lets it rewrite the new text. It only rewrites while the field is handling one of its own
// events, which is where every user edit (keys, shortcuts, context menu, drop, input
// method, middle-click paste) happens: a value the program sets, line breaks and length
// included, stays as it is until the user edits it. Undo and redo only go back to earlier
// texts, which may be a longer text the program set, so they are never rewritten.
class UserEditValidator : public QValidator
{
public:
    explicit UserEditValidator(LimitedEdit* edit) : QValidator(edit), m_edit(edit) {}

    State validate(QString& input, int& pos) const override
    {
        if (m_edit->m_userEventDepth == 0)
            return Acceptable;
        joinLines(input, pos);
        trimToLimit(input, pos);
        return Acceptable;
    }

private:
    void trimToLimit(QString& input, int& pos) const
    {
        const int limit = m_edit->m_typingLimit;
        if (limit <= 0 || input.size() <= limit)
            return;
        const int allowed = qMax(limit, m_edit->m_lastLength);
        const int excess = int(input.size()) - allowed;
        if (excess <= 0)
            return;
        // What grew the text was inserted just before the cursor: drop its tail.
        const int from = qBound(0, pos - excess, int(input.size()) - excess);
        input.remove(from, excess);
        pos = qMin(from, int(input.size()));
    }

    LimitedEdit* m_edit;
};

LimitedEdit::LimitedEdit(int typingLimit, QWidget* parent)
    : QLineEdit(parent), m_typingLimit(typingLimit)
{
    setValidator(new UserEditValidator(this));
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_lastLength = int(text.size()); });
}

bool LimitedEdit::event(QEvent* e)
{
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)) {
            const int depth = std::exchange(m_userEventDepth, 0);
            const bool handled = QLineEdit::event(e);
            m_userEventDepth = depth;
            return handled;
        }
    }
    ++m_userEventDepth;
    const bool handled = QLineEdit::event(e);
    --m_userEventDepth;
    return handled;
}

void LimitedEdit::contextMenuEvent(QContextMenuEvent* e)
{
    // QLineEdit pops its menu up and returns, so Paste would run outside this event;
    // running the menu here keeps it inside. The standard menu starts with Undo and Redo.
    QPointer<QMenu> menu = createStandardContextMenu();
    if (!menu)
        return;
    const QList<QAction*> actions = menu->actions();
    for (int i = 0; i < 2 && i < actions.size(); ++i) {
        QAction* action = actions.at(i);
        const bool undo = i == 0;
        disconnect(action, &QAction::triggered, this, nullptr);
        connect(action, &QAction::triggered, this, [this, undo] {
            const int depth = std::exchange(m_userEventDepth, 0);
            undo ? QLineEdit::undo() : QLineEdit::redo();
            m_userEventDepth = depth;
        });
    }
    menu->exec(e->globalPos());
    delete menu;
}

} // namespace tagora
