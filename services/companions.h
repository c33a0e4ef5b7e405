#pragma once

#include <QString>

namespace tagora {

// The other programs of the maker that the Tools menu starts. Each is installed on its own
// and registers its install folder under "Software\Corvane\<Name>", text value "path".
enum class Companion
{
    Ondrisk,
    Palvane,
    Quorrel,
    Brenlow,
    Taskerin,
    Mirrowen
};

struct CompanionProgram
{
    QString registryKey;    // "Software\Corvane\Palvane"
    QString executableName; // "palvane", no folder
    QString downloadPage;   // siteAddress() + "/palvane/"
};

// The four fixed values of a companion program (the download page follows siteAddress()).
CompanionProgram companionProgram(Companion which);

// Starts the companion program registered under `registryKey` (install folder + executable
// name, joined as they are, no separator added) detached through the shell layer, with
// `fileToHand` as its one argument, empty or not, blanks kept.
// When the key, its "path" value or the executable (a file we may execute) is missing, tells
// the user "Component not found" and opens `downloadPage` through the shell layer.
// A "path" that is not a text throws ERegistryException("Invalid data type for 'path'") and
// nothing is started or opened. GUI thread; returns without waiting for the program.
void RunCompanionTool(const QString& registryKey, const QString& executableName,
                      const QString& fileToHand, const QString& downloadPage);

// The one call of RunCompanionTool a Tools command makes. Ondrisk, the recorder, gets no
// file: `fileToHand` is ignored for it and the empty argument handed over.
void RunCompanion(Companion which, const QString& fileToHand);

} // namespace tagora
