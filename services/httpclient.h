#pragma once

#include <QByteArray>
#include <QUrl>

namespace tagora {

// Fetches small documents over HTTP(S) for the GUI thread. The real one is QtHttpClient;
// tests may install another, though ours talk to a real server on 127.0.0.1.
class HttpClient
{
public:
    virtual ~HttpClient() = default;
    // Blocking GET. Returns the first `maxBytes` bytes of the reply body at most, whatever
    // the HTTP status; an empty array when the address could not be reached, nothing
    // arrived, or `timeoutMs` milliseconds passed before the reply ended or filled
    // `maxBytes`. `userAgent` is sent as the User-Agent header. While it waits, user input
    // to every window stays queued, so nothing else can be clicked.
    virtual QByteArray get(const QUrl& url, const QByteArray& userAgent, int maxBytes,
                           int timeoutMs) = 0;
};

// Qt Network with the system's proxy settings (none for loopback addresses). Each call
// uses its own connection manager, so nothing is kept between calls. Needs a running
// QCoreApplication; GUI thread only.
class QtHttpClient : public HttpClient
{
public:
    QByteArray get(const QUrl& url, const QByteArray& userAgent, int maxBytes,
                   int timeoutMs) override;
};

// The installed client (not owned); a QtHttpClient until another is installed.
HttpClient& httpClient();
void setHttpClient(HttpClient* client);

} // namespace tagora
