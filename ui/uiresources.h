#pragma once

namespace tagora {

// Registers the pictures compiled into the ui library (":/icons/..."). A static library's
// resources are not registered by themselves; calling this more than once is harmless.
void initUiResources();

} // namespace tagora
