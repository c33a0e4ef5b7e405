// A tag-library file that uses Qt.
#include <QString>
