#include "services/updatecheck.h"

#include "services/errors.h"
#include "services/messageboxes.h"
#include "services/site.h"
#include "support/recorders.h"
#include "support/refusedport.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

using namespace tagora;

namespace {

enum class Behaviour
{
    Answer,
    Close,
    Silent
};

// A tiny HTTP server on 127.0.0.1 that answers every request the same way and keeps
// the request it saw.
class VersionServer : public QObject
{
public:
    VersionServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] { accept(); });
    }

    QString address() const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }

    Behaviour behaviour = Behaviour::Answer;
    int status = 200;
    QList<QByteArray> pieces; // sent one after another, 50 ms apart
    QByteArray request;

private:
    void accept()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            if (behaviour == Behaviour::Close) {
                socket->close();
                continue;
            }
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                request += socket->readAll();
                if (!request.contains("\r\n\r\n") || behaviour == Behaviour::Silent)
                    return;
                answer(socket);
            });
        }
    }

    void answer(QTcpSocket* socket)
    {
        const QByteArray body = pieces.join();
        socket->write(
            "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Not Found") +
            "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
            "\r\nConnection: close\r\n\r\n");
        for (int i = 0; i < pieces.size(); ++i) {
            QTimer::singleShot(50 * i, socket, [socket, piece = pieces.at(i)] {
                if (socket->state() == QAbstractSocket::ConnectedState)
                    socket->write(piece);
            });
        }
        QTimer::singleShot(50 * int(pieces.size()), socket,
                           [socket] { socket->disconnectFromHost(); });
    }

    QTcpServer m_server;
};

QString question(const QString& reply, const QString& site)
{
    return QStringLiteral("New Version ") + reply + QStringLiteral("\r\navailable from ") + site +
           QStringLiteral("\r\nWould you like to download it now?");
}

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        qunsetenv("TAGORA_SITE");
        setUpdateCheckTimeout(15000);
    }

    void defaults()
    {
        QCOMPARE(updateCheckTimeout(), 15000);
        QCOMPARE(versionQueryAddress(),
                 QStringLiteral(
                     "https://www.corvane.com/pad/php.php3?pad=/tagora/tagora.xml&field=version"));
        QCOMPARE(downloadAddress(), QStringLiteral("https://www.corvane.com/downloads/tagora.exe"));
    }

    void isNewerVersion_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("local");
        // "true", "false" or the message of the conversion error
        QTest::addColumn<QString>("expected");

        auto row = [](const char* name, const char* remote, const char* local,
                      const char* expected) {
            QTest::newRow(name) << QString::fromLatin1(remote) << QString::fromLatin1(local)
                                << QString::fromLatin1(expected);
        };
        row("newer last part", "1.2.3.5", "1.2.3.4", "true");
        row("equal", "1.2.3.4", "1.2.3.4", "false");
        row("older", "1.2.3.3", "1.2.3.4", "false");
        row("parts compare as numbers", "1.2.3.4", "1.2.3.10", "false");
        row("first part wins", "2.0.0.0", "1.99.99.99", "true");
        row("large part does not carry", "1.2.100.0", "1.3.0.0", "false");
        row("large part does not carry back", "1.3.0.0", "1.2.100.0", "true");
        row("part above 99", "1.2.3.100", "1.2.4.0", "false");
        row("remote without dot", "5", "1.0.0.0", "false");
        row("error page without dot", "404 Not Found", "1.0.0.0", "false");
        row("local without dot", "1.2.3.5", "n/a", "false");
        row("no dot is checked before conversion", "x", "a.b", "false");
        row("fewer remote parts", "1.3", "1.2.9.9", "true");
        row("missing parts are zero", "1.2", "1.2.0.0", "false");
        row("fewer local parts", "1.2.0.1", "1.2", "true");
        row("more remote parts", "1.2.3.4.1", "1.2.3.4", "true");
        row("signed part", "1.2.3.+5", "1.2.3.4", "true");
        row("not an integer", "1.2.x.4", "1.0.0.0", "''x'' is not a valid integer value");
        row("remote converted first", "1.a.3.4", "1.b.0.0", "''a'' is not a valid integer value");
        row("local part", "1.2.3.4", "1.2.3.4z", "''4z'' is not a valid integer value");
        row("empty part", "1..3.4", "1.0.0.0", "'''' is not a valid integer value");
        row("hexadecimal", "1.2.0x3.4", "1.0.0.0", "''0x3'' is not a valid integer value");
        row("beyond 32 bits", "1.99999999999.0.0", "1.0.0.0",
            "''99999999999'' is not a valid integer value");
        row("inner blank", "1. 2.3.4", "1.0.0.0", "'' 2'' is not a valid integer value");
    }

    void isNewerVersion()
    {
        QFETCH(QString, remote);
        QFETCH(QString, local);
        QFETCH(QString, expected);
        QString result;
        try {
            result =
                IsNewerVersion(remote, local) ? QStringLiteral("true") : QStringLiteral("false");
        } catch (const EConvertError& e) {
            result = e.message();
        }
        QCOMPARE(result, expected);
    }

    void checkForUpdates_data()
    {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<bool>("answerYes");
        // %1 stands for the site address, %2 for its host and port
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("icon");
        QTest::addColumn<bool>("downloadOpened");

        const int answer = int(Behaviour::Answer);
        const int question = int(MsgIcon::Question);
        const int information = int(MsgIcon::Information);
        const int error = int(MsgIcon::Error);
        const QString newer = ::question(QStringLiteral("1.2.3.5"), QStringLiteral("%1"));
        const QString latest = QStringLiteral("You already have the latest version  1.2.3.4");
        const QString unreachable = QStringLiteral("Unable to connect : %2");

        QTest::newRow("newer, Yes")
            << answer << 200 << QByteArrayList{"1.2.3.5"} << true << newer << question << true;
        QTest::newRow("newer, No")
            << answer << 200 << QByteArrayList{"1.2.3.5"} << false << newer << question << false;
        QTest::newRow("same") << answer << 200 << QByteArrayList{"1.2.3.4"} << true << latest
                              << question << false;
        QTest::newRow("older") << answer << 200 << QByteArrayList{"1.2.3.3"} << true << latest
                               << question << false;
        QTest::newRow("blanks shown untrimmed")
            << answer << 200 << QByteArrayList{" 1.2.3.5\r\n"} << true
            << ::question(QStringLiteral(" 1.2.3.5\r\n"), QStringLiteral("%1")) << question << true;
        QTest::newRow("reply in pieces")
            << answer << 200 << QByteArrayList{"1.2.", "3.5"} << true << newer << question << true;
        QTest::newRow("404 page without dot") << answer << 404 << QByteArrayList{"404 Not Found"}
                                              << true << latest << question << false;
        QTest::newRow("404 page with a sentence")
            << answer << 404 << QByteArrayList{"Page not found."} << true
            << QStringLiteral("''Page not found'' is not a valid integer value.") << error << false;
        QTest::newRow("non-integer part")
            << answer << 200 << QByteArrayList{"1.2.x.5"} << true
            << QStringLiteral("''x'' is not a valid integer value.") << error << false;
        QTest::newRow("empty body")
            << answer << 200 << QByteArrayList{} << true << unreachable << information << false;
        QTest::newRow("connection closed") << int(Behaviour::Close) << 200 << QByteArrayList{}
                                           << true << unreachable << information << false;
        QTest::newRow("never answers") << int(Behaviour::Silent) << 200 << QByteArrayList{} << true
                                       << unreachable << information << false;

        // Only the first 2048 bytes count: what follows would make the text invalid.
        const QByteArray head = QByteArray("9.9.9.9").leftJustified(2048, ' ');
        QTest::newRow("longer than 2048 bytes")
            << answer << 200 << QByteArrayList{head + "x.y"} << true
            << ::question(QString::fromLatin1(head), QStringLiteral("%1")) << question << true;
    }

    void checkForUpdates()
    {
        QFETCH(int, behaviour);
        QFETCH(int, status);
        QFETCH(QByteArrayList, pieces);
        QFETCH(bool, answerYes);
        QFETCH(QString, message);
        QFETCH(int, icon);
        QFETCH(bool, downloadOpened);

        VersionServer server;
        server.behaviour = Behaviour(behaviour);
        server.status = status;
        server.pieces = pieces;
        qputenv("TAGORA_SITE", server.address().toLatin1());
        setUpdateCheckTimeout(1000);

        test::RecordingMessageBoxes boxes;
        boxes.answer = answerYes ? MsgAnswer::Yes : MsgAnswer::No;
        test::RecordingShell desktop;
        QElapsedTimer clock;
        clock.start();
        runGuarded(CheckForUpdates);
        QVERIFY2(clock.elapsed() < 5000, "the time-out did not end the check");

        const QString expected = QString(message)
                                     .replace(QLatin1String("%1"), server.address())
                                     .replace(QLatin1String("%2"), siteHost());
        QCOMPARE(boxes.texts(), QStringList{expected});
        QCOMPARE(int(boxes.shown.first().icon), icon);
        QCOMPARE(boxes.shown.first().buttons, expected.startsWith(QLatin1String("New Version"))
                                                  ? MsgButtons::YesNo
                                                  : MsgButtons::Ok);
        const QList<QUrl> opened =
            downloadOpened
                ? QList<QUrl>{QUrl(server.address() + QStringLiteral("/downloads/tagora.exe"))}
                : QList<QUrl>{};
        QCOMPARE(desktop.opened, opened);

        if (Behaviour(behaviour) == Behaviour::Silent)
            QVERIFY(clock.elapsed() >= 1000);
        if (Behaviour(behaviour) == Behaviour::Answer) {
            QVERIFY2(server.request.startsWith(
                         "GET /pad/php.php3?pad=/tagora/tagora.xml&field=version HTTP/1.1\r\n"),
                     server.request.constData());
            QVERIFY2(server.request.contains("\r\nUser-Agent: tst_update\r\n"),
                     server.request.constData());
        }
    }

    void hostNamedWhenNothingListens()
    {
        const quint16 port = test::refusedPort();
        QVERIFY(port != 0);
        qputenv("TAGORA_SITE", QByteArray("http://127.0.0.1:") + QByteArray::number(port));
        test::RecordingMessageBoxes boxes;
        runGuarded(CheckForUpdates);
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral("Unable to connect : 127.0.0.1:%1").arg(port)});
    }
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"
