#include "httpclient.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace tagora {
namespace {

QNetworkProxy proxyFor(const QUrl& url)
{
    // A proxy cannot reach this machine's loopback, and an http_proxy variable without a
    // matching no_proxy would otherwise send local requests away.
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        QHostAddress(host).isLoopback())
        return QNetworkProxy(QNetworkProxy::NoProxy);
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    return proxies.isEmpty() ? QNetworkProxy(QNetworkProxy::NoProxy) : proxies.first();
}

} // namespace

QByteArray HttpClient::get(const QUrl& url, const QByteArray& userAgent, int maxBytes,
                           int timeoutMs)
{
    QNetworkAccessManager manager;
    manager.setProxy(proxyFor(url));

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);

    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QByteArray body;
    bool timedOut = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait early

    auto take = [&] {
        if (body.size() < maxBytes)
            body += reply->read(maxBytes - body.size());
        if (body.size() >= maxBytes)
            loop.quit();
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, take);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });

    deadline.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    deadline.stop();
    if (timedOut)
        return {};
    take();
    // Whatever is still on its way is not wanted.
    reply->abort();
    return body;
}

HttpClient& httpClient()
{
    static HttpClient client;
    return client;
}

} // namespace tagora
