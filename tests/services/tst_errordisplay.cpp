#include "services/errors.h"
#include "services/messageboxes.h"
#include "support/recorders.h"

#include <QtTest>

using namespace tagora;

class ErrorDisplayTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "File not found" << "File not found.";
        QTest::newRow("digit") << "I/O error 13" << "I/O error 13.";
        QTest::newRow("full stop") << "Done." << "Done.";
        QTest::newRow("slash is above the dot") << "a/" << "a/.";
        QTest::newRow("comma is below the dot") << "a," << "a,";
        QTest::newRow("blank") << "a " << "a ";
        QTest::newRow("empty") << "" << "";
    }
    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        test::RecordingMessageBoxes boxes;
        showStandardError(message);
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, shown);
        QCOMPARE(boxes.shown[0].icon, MsgIcon::Error);
        QCOMPARE(boxes.shown[0].buttons, MsgButtons::Ok);
    }

    void silentAbortShowsNothing()
    {
        test::RecordingMessageBoxes boxes;
        runGuarded([] { throw EAbort(QStringLiteral("ignored")); });
        runGuarded([] { throw EInOutError(13); });
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("I/O error 13.")});
    }
};

QTEST_GUILESS_MAIN(ErrorDisplayTest)
#include "tst_errordisplay.moc"
