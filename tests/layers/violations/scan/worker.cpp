// The scan may use what lies below it.
#include "services/errors.h"
#include "tags/reachesup.h"
#include <QThread>
