#pragma once
// For tests of a connection that cannot be made, without waiting for a time-out.

#include <QHostAddress>
#include <QTcpServer>

namespace tagora::test {

// A port on 127.0.0.1 that was free a moment ago, so a connection to it is refused at once;
// 0 when no port could be had.
inline quint16 refusedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

} // namespace tagora::test
