#include "limitededit.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QValidator>
#include <utility>

namespace tagora {

// QLineEdit runs its validator after every change, from the user or from setText, and
// lets it rewrite the new text. It only trims while the field is handling one of its own
// events, which is where every user edit (keys, shortcuts, context menu, drop, input
// method, middle-click paste) happens. Undo and redo only go back to earlier texts, which
// may be a longer text the program set, so they are never trimmed.
class TypingLimitValidator : public QValidator
{
public:
    explicit TypingLimitValidator(LimitedEdit* edit) : QValidator(edit), m_edit(edit) {}

    State validate(QString& input, int& pos) const override
    {
        const int limit = m_edit->m_typingLimit;
        if (limit <= 0 || m_edit->m_userEventDepth == 0 || input.size() <= limit)
            return Acceptable;
        const int allowed = qMax(limit, m_edit->m_lastLength);
        const int excess = int(input.size()) - allowed;
        if (excess <= 0)
            return Acceptable;
        // What grew the text was inserted just before the cursor: drop its tail.
        const int from = qBound(0, pos - excess, int(input.size()) - excess);
        input.remove(from, excess);
        pos = qMin(from, int(input.size()));
        return Acceptable;
    }

private:
    LimitedEdit* m_edit;
};

LimitedEdit::LimitedEdit(int typingLimit, QWidget* parent)
    : QLineEdit(parent), m_typingLimit(typingLimit)
{
    if (m_typingLimit > 0) {
        setValidator(new TypingLimitValidator(this));
        connect(this, &QLineEdit::textChanged, this,
                [this](const QString& text) { m_lastLength = int(text.size()); });
    }
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
