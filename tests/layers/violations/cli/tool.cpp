// The command-line program beside the window, reaching into it and into Qt Gui.
#include "ui/widget.h"
#include <QtGui/QImage>
