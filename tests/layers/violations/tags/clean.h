// What the editing session may use.
#include <QString>
