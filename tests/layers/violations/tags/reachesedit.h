// Tags reaching up into the editing session.
#include "edit/session.h"
