#include "updatecheck.h"

#include "errors.h"
#include "httpclient.h"
#include "messageboxes.h"
#include "shell.h"
#include "site.h"
#include "versioninfo.h"

#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <QUrl>

namespace tagora {
namespace {

const int kReceiveBufferSize = 2048;
int g_timeoutMs = 15000;

qint64 versionPart(const QString& part)
{
    // Only an optional sign and decimal digits; toLongLong alone would also take blanks.
    bool ok = !part.isEmpty();
    for (qsizetype i = 0; ok && i < part.size(); ++i) {
        const QChar c = part.at(i);
        ok = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
             (i == 0 && part.size() > 1 && (c == QLatin1Char('+') || c == QLatin1Char('-')));
    }
    const int value = ok ? part.toInt(&ok) : 0;
    if (!ok)
        throw EConvertError(QStringLiteral("''%1'' is not a valid integer value").arg(part));
    return value;
}

QList<qint64> versionParts(const QString& text)
{
    QList<qint64> parts;
    const QStringList texts = text.split(QLatin1Char('.'));
    for (const QString& part : texts)
        parts.append(versionPart(part));
    return parts;
}

// Removes characters of code 32 and below from both ends; QString::trimmed would also
// take Latin-1 blanks such as U+00A0 that a byte-wise reply can hold.
QString trimControls(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 32)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 32)
        --last;
    return text.mid(first, last - first);
}

} // namespace

bool IsNewerVersion(const QString& remote, const QString& local)
{
    if (!remote.contains(QLatin1Char('.')) || !local.contains(QLatin1Char('.')))
        return false;
    const QList<qint64> remoteParts = versionParts(remote);
    const QList<qint64> localParts = versionParts(local);
    const qsizetype count = qMax(remoteParts.size(), localParts.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 r = remoteParts.value(i, 0);
        const qint64 l = localParts.value(i, 0);
        if (r != l)
            return r > l;
    }
    return false;
}

QString versionQueryAddress()
{
    return siteAddress() + QLatin1String("/pad/php.php3?pad=/tagora/tagora.xml&field=version");
}

QString downloadAddress()
{
    return siteAddress() + QLatin1String("/downloads/tagora.exe");
}

int updateCheckTimeout()
{
    return g_timeoutMs;
}

void setUpdateCheckTimeout(int milliseconds)
{
    g_timeoutMs = milliseconds;
}

void CheckForUpdates()
{
    const QString program = runningExecutablePath();
    const QByteArray received =
        httpClient().get(QUrl(versionQueryAddress()), QFileInfo(program).fileName().toUtf8(),
                         kReceiveBufferSize, g_timeoutMs);
    if (received.isEmpty()) {
        messageBoxes().show(QStringLiteral("Unable to connect : ") + siteHost(),
                            MsgIcon::Information, MsgButtons::Ok);
        return;
    }

    // One character per byte, NUL bytes included.
    const QString reply = QString::fromLatin1(received);
    const QString local = GetFileVersionString(program);
    if (IsNewerVersion(trimControls(reply), local)) {
        const QString question = QStringLiteral("New Version ") + reply +
                                 QLatin1String("\r\navailable from ") + siteAddress() +
                                 QLatin1String("\r\nWould you like to download it now?");
        if (messageBoxes().show(question, MsgIcon::Question, MsgButtons::YesNo) == MsgAnswer::Yes)
            openOrReport(QUrl(downloadAddress()));
        return;
    }
    messageBoxes().show(QStringLiteral("You already have the latest version  ") + local,
                        MsgIcon::Question, MsgButtons::Ok);
}

} // namespace tagora
