#include "help.h"

#include "errors.h"
#include "shell.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QUrl>

namespace tagora {

QString helpFileName()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/tagora.html");
}

void OpenHelp(const QString& fileName, const std::optional<QString>& topic)
{
    // QFileInfo::exists follows links: a dangling link counts as a missing manual.
    bool opened = false;
    if (!fileName.isEmpty() && QFileInfo::exists(fileName)) {
        QUrl url = QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath());
        if (topic)
            url.setFragment(*topic);
        opened = shell().openUrl(url);
    }
    if (!opened)
        throw Error(QStringLiteral("Unable to open help file %1").arg(fileName));
}

} // namespace tagora
