// Tags reaching up into the widgets, by our header and by Qt path.
#include "ui/widget.h"
#include <QtWidgets/QWidget>
