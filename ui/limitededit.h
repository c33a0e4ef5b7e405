#pragma once

#include <QLineEdit>

namespace tagora {

// An edit field whose typing limit binds only the user: typing, pasting, dropping and
// input-method text are cut so the text does not grow beyond the limit, while a text set
// by the program is kept whole (QLineEdit::setMaxLength would cut it). A text already
// longer than the limit can be shortened but not lengthened. Line breaks the user brings in
// become blanks, as the one-line field shows them.
class LimitedEdit : public QLineEdit
{
    Q_OBJECT

public:
    // `typingLimit` 0: no limit.
    explicit LimitedEdit(int typingLimit, QWidget* parent = nullptr);
    int typingLimit() const { return m_typingLimit; }

protected:
    bool event(QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    friend class UserEditValidator;

    int m_typingLimit;
    int m_userEventDepth = 0;
    int m_lastLength = 0;
};

} // namespace tagora
