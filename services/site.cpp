#include "site.h"

#include <QUrl>

namespace tagora {

QString siteAddress()
{
    QString address = qEnvironmentVariable("TAGORA_SITE").trimmed();
    if (address.isEmpty())
        return QStringLiteral("https://www.corvane.com");
    if (!address.contains(QLatin1String("://")))
        address.prepend(QLatin1String("https://"));
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    return address;
}

QString siteHost()
{
    return QUrl(siteAddress()).authority();
}

QString productPage()
{
    return siteAddress() + QLatin1String("/tagora/");
}

} // namespace tagora
