#include "uiresources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerTagoraUiResources()
{
    Q_INIT_RESOURCE(tagoraui);
}

namespace tagora {

void initUiResources()
{
    static const bool registered = (registerTagoraUiResources(), true);
    Q_UNUSED(registered);
}

} // namespace tagora
