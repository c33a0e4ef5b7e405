#include "limitededit.h"

#include <QValidator>

namespace tagora {

// QLineEdit runs its validator after every change, from the user or from setText, and
// lets it rewrite the new text. It only trims while the field is handling one of its own
// events, which is where every user edit (keys, shortcuts, context menu, drop, input
// method) happens.
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
    ++m_userEventDepth;
    const bool handled = QLineEdit::event(e);
    --m_userEventDepth;
    return handled;
}

} // namespace tagora
