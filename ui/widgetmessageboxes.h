#pragma once

#include "services/messageboxes.h"

namespace tagora {

// Message boxes as modal QMessageBox dialogs over the active window.
class WidgetMessageBoxes : public MessageBoxes
{
public:
    MsgAnswer show(const QString& text, MsgIcon icon, MsgButtons buttons) override;
};

} // namespace tagora
