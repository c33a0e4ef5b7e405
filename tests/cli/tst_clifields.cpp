// tagora-cli's field names: the help and the bash completion name the fields the table holds,
// and every name leads back to its field.
#include "cli/namepattern.h"
#include "tags/tagfields.h"

#include <QProcess>
#include <QtTest>

using namespace tagora;

class CliFieldsTest : public QObject
{
    Q_OBJECT

    static QByteArray run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        process.start(program, arguments);
        if (!process.waitForFinished(10000))
            return {};
        return process.readAllStandardOutput();
    }

private Q_SLOTS:
    void helpListsTheFields()
    {
        const QByteArray help =
            run(QStringLiteral(TAGORA_CLI_PATH), {QStringLiteral("ls"), QStringLiteral("--help")});
        QVERIFY(help.contains(
            "\nFields: title artist album track year genre comment copyright bpm key\n"));
    }

    // What bash offers after "get": the fields the program names, then the named properties.
    void completionOffersTheProgramsFields_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("offered");
        QTest::newRow("all fields") << QString() << QStringLiteral("title");
        QTest::newRow("by prefix") << QStringLiteral("co") << QStringLiteral("comment copyright");
        QTest::newRow("a property") << QStringLiteral("COMP") << QStringLiteral("COMPOSER");
    }
    void completionOffersTheProgramsFields()
    {
        QFETCH(QString, typed);
        QFETCH(QString, offered);
        const QString script =
            QStringLiteral("source '%1'; COMP_WORDS=('%2' get '%3'); COMP_CWORD=2; _tagora_cli; "
                           "echo \"${COMPREPLY[*]}\"")
                .arg(QStringLiteral(TAGORA_COMPLETION_PATH), QStringLiteral(TAGORA_CLI_PATH),
                     typed);
        const QString words =
            QString::fromUtf8(run(QStringLiteral("bash"), {QStringLiteral("-c"), script}))
                .trimmed();
        if (typed.isEmpty()) {
            QVERIFY2(words.startsWith(offered + u' '), qPrintable(words));
            QVERIFY2(words.contains(QLatin1String(" key ")), qPrintable(words));
        } else {
            QCOMPARE(words, offered);
        }
    }

    void everyNameLeadsBackToItsField()
    {
        for (const TagField& field : TagFields) {
            const QString name = QString::fromLatin1(field.cliName);
            QCOMPARE(cli::memberNamed(name.toUpper()), field.member);
            QCOMPARE(cli::scriptName(field.member), QByteArray(field.cliName));
        }
        QCOMPARE(cli::memberNamed(QStringLiteral("composer")), nullptr);
    }
};

QTEST_GUILESS_MAIN(CliFieldsTest)
#include "tst_clifields.moc"
