#include "tagwrapper.h"
