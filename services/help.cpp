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
    if (fileName.isEmpty() || !QFileInfo::exists(fileName))
        throw Error(QStringLiteral("Unable to open help file %1").arg(fileName));
    QUrl url = QUrl::fromLocalFile(QFileInfo(fileName).absoluteFilePath());
    if (topic)
        url.setFragment(*topic);
    // The manual is there: the user needs to know that a program to show it is missing.
    if (!shell().openUrl(url))
        throw Error(
            QStringLiteral("Unable to open help file %1\r\n%2").arg(fileName, noOpenerReason()));
}

} // namespace tagora
