// The layer the others must not reach.
#include <QWidget>
