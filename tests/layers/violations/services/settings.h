// A service that uses a widget.
#include <QWidget>
