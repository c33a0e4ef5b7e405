// An editing session that reaches into the widgets, the scan beside it and Qt Gui.
#include "scan/worker.h"
#include "tags/clean.h"
#include "ui/widget.h"
#include <QColor>
#include <QString>
