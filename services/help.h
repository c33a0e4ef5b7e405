#pragma once

#include <QString>
#include <optional>

namespace tagora {

// The user's manual, "tagora.html", in the folder of the running executable (the build
// tree and the installed program keep it beside the binary).
QString helpFileName();

// Opens the HTML manual `fileName` in the user's browser through the shell layer, at the
// anchor `topic` when one is given ("#" + topic).
// Throws Error("Unable to open help file <fileName>") when the file does not exist (links
// followed); when the shell could not open it, the message goes on with a second line,
// noOpenerReason(). GUI thread.
void OpenHelp(const QString& fileName, const std::optional<QString>& topic = std::nullopt);

} // namespace tagora
