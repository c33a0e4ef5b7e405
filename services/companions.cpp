#include "companions.h"

#include "messageboxes.h"
#include "registry.h"
#include "shell.h"
#include "site.h"

#include <QFileInfo>
#include <QUrl>

namespace tagora {
namespace {

QString companionName(Companion which)
{
    switch (which) {
    case Companion::Ondrisk:
        return QStringLiteral("Ondrisk");
    case Companion::Palvane:
        return QStringLiteral("Palvane");
    case Companion::Quorrel:
        return QStringLiteral("Quorrel");
    case Companion::Brenlow:
        return QStringLiteral("Brenlow");
    case Companion::Taskerin:
        return QStringLiteral("Taskerin");
    case Companion::Mirrowen:
        return QStringLiteral("Mirrowen");
    }
    return QString();
}

// A directory with the executable's name, or a file without the execute permission, is
// not something we can start; treat it like a missing program.
bool isStartable(const QString& program)
{
    const QFileInfo info(program);
    return info.isFile() && info.isExecutable();
}

} // namespace

CompanionProgram companionProgram(Companion which)
{
    const QString name = companionName(which);
    const QString lower = name.toLower();
    return {QLatin1String("Software\\Corvane\\") + name, lower,
            siteAddress() + QLatin1Char('/') + lower + QLatin1Char('/')};
}

void RunCompanionTool(const QString& registryKey, const QString& executableName,
                      const QString& fileToHand, const QString& downloadPage)
{
    const QString pathValue = QStringLiteral("path");
    QString installFolder;
    if (const std::unique_ptr<RegistryKey> key = registry().openKey(registryKey, false)) {
        if (key->valueExists(pathValue))
            installFolder = key->readString(pathValue);
    }

    if (!installFolder.isEmpty()) {
        const QString program = installFolder + executableName;
        if (isStartable(program)) {
            // An argument list, not a command line: the file arrives as one argument
            // whatever blanks or quotes its name holds. A failed start is not reported.
            shell().startDetached(program, {fileToHand});
            return;
        }
    }

    messageBoxes().show(QStringLiteral("Component not found\r\n"
                                       "Please download and install it from our site."),
                        MsgIcon::None, MsgButtons::Ok);
    openOrReport(QUrl(downloadPage));
}

void RunCompanion(Companion which, const QString& fileToHand)
{
    const CompanionProgram program = companionProgram(which);
    RunCompanionTool(program.registryKey, program.executableName,
                     which == Companion::Ondrisk ? QString() : fileToHand, program.downloadPage);
}

} // namespace tagora
