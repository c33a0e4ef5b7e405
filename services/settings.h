#pragma once

#include <QString>

namespace tagora {

// The program's settings record.
struct config
{
    QString Path;       // folder of the program, with its final separator
    QString LastFolder; // folder last selected in the folder tree, as the tree gave it
    bool Mp3 = false;
    bool Wma = false;
    bool Ape = false;
    bool Ogg = false;
    bool Mp4 = false;
    bool Flac = false;
};

// The one settings record of the process: filled while the main window is created,
// written back while it is destroyed. GUI thread only.
extern config Settings;

// Where the settings live in the store.
inline const QString kSettingsKey = QStringLiteral("Software\\Corvane\\Tagora\\Settings");

// Fills `settings` with the defaults, then with what the store holds. A stored value the
// store refuses (wrong type) is shown once with the standard error display and leaves
// that field at its default; the other values are still read. A key that can be neither
// opened nor created leaves every default silently.
void LoadSettings(config& settings);

// Writes all eight values. Throws ERegistryException when the store refuses a write, also
// when the key can be neither opened nor created (then for the first value, "path").
void SaveSettings(config settings);

} // namespace tagora
