#pragma once

#include <QByteArray>
#include <QUrl>

namespace tagora {

// Fetches small documents over HTTP(S) for the GUI thread, through Qt Network with the
// system's proxy settings (none for loopback addresses). Each call uses its own connection
// manager, so nothing is kept between calls. Needs a running QCoreApplication.
class HttpClient
{
public:
    // Blocking GET. Returns the first `maxBytes` bytes of the reply body at most, whatever
    // the HTTP status; an empty array when the address could not be reached, nothing
    // arrived, or `timeoutMs` milliseconds passed before the reply ended or filled
    // `maxBytes`. `userAgent` is sent as the User-Agent header. While it waits, user input
    // to every window stays queued, so nothing else can be clicked.
    QByteArray get(const QUrl& url, const QByteArray& userAgent, int maxBytes, int timeoutMs);
};

// The program's client.
HttpClient& httpClient();

} // namespace tagora
