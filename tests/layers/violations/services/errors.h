// A base service that reaches up into the services proper.
#include "settings.h"
