// The places outside the program that name tagora-cli's commands, checked against its list:
// the manual page's synopses and the bash completion.
#include "cli/commands.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using namespace tagora::cli;

namespace {

// The manual's command items: the line after each ".TP" under COMMANDS, without roff's fonts
// and escapes, as the help writes a usage line.
QStringList manualSynopses()
{
    QFile file(QStringLiteral(TAGORA_SOURCE_DIR "/cli/tagora-cli.1"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    const QString commands =
        text.section(QStringLiteral(".SH COMMANDS\n"), 1).section(QStringLiteral("\n.SH "), 0, 0);
    QStringList synopses;
    const QStringList lines = commands.split(u'\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != QLatin1String(".TP"))
            continue;
        QString plain = lines[i + 1];
        plain.remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
        synopses.append(plain.replace(QLatin1String("\\-"), QLatin1String("-")));
    }
    return synopses;
}

// What bash offers after `words` (the last one the word being completed).
QStringList completions(const QStringList& words)
{
    QString script = QStringLiteral("source '" TAGORA_SOURCE_DIR
                                    "/cli/tagora-cli.bash-completion'\nCOMP_WORDS=(");
    for (const QString& word : words)
        script += u'\'' + word + QLatin1String("' ");
    script += QStringLiteral(")\nCOMP_CWORD=%1\n_tagora_cli 2>/dev/null\n"
                             "printf '%s\\n' \"${COMPREPLY[@]}\"\n")
                  .arg(words.size() - 1);
    QProcess bash;
    bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), script});
    bash.waitForFinished();
    QStringList offered = QString::fromUtf8(bash.readAllStandardOutput()).split(u'\n');
    offered.removeAll(QString());
    offered.sort();
    return offered;
}

// The options a command's help lists, each spelling.
QStringList helpOptions(const Command& command)
{
    QProcess cli;
    cli.start(QStringLiteral(TAGORA_CLI_PATH),
              {QString::fromLatin1(command.name), QStringLiteral("--help")});
    cli.waitForFinished();
    QStringList options;
    const QRegularExpression spelling(QStringLiteral("(?:^  |, |^      )(--?[a-z][-a-z0-9]*)"),
                                      QRegularExpression::MultilineOption);
    auto match = spelling.globalMatch(QString::fromUtf8(cli.readAllStandardOutput()));
    while (match.hasNext())
        options.append(match.next().captured(1));
    options.sort();
    return options;
}

} // namespace

class CliCommandsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every command has one item in the manual whose synopsis is its usage line, and the
    // manual has no item for a command the program lacks.
    void theManualShowsEachCommandsUsage()
    {
        const QStringList synopses = manualSynopses();
        QVERIFY(!synopses.isEmpty());
        for (const Command* command : commands()) {
            const QString usage = QString::fromUtf8(command->help)
                                      .section(u'\n', 0, 0)
                                      .mid(int(qstrlen("Usage: tagora-cli ")));
            const QString name = QString::fromLatin1(command->name) + u' ';
            const QStringList items = synopses.filter(QRegularExpression(u'^' + name));
            if (*command->options == '*')
                QVERIFY2(!items.isEmpty(), command->name); // one item per action
            else
                QCOMPARE(items, QStringList{usage});
        }
        for (const QString& synopsis : synopses)
            QVERIFY2(commandNamed(synopsis.section(u' ', 0, 0).toUtf8()), qPrintable(synopsis));
    }

    void theCompletionOffersEveryCommand()
    {
        QStringList names{QStringLiteral("--help"), QStringLiteral("--version")};
        for (const Command* command : commands())
            names.append(QString::fromLatin1(command->name));
        names.sort();
        QCOMPARE(completions({QStringLiteral(TAGORA_CLI_PATH), QString()}), names);
    }

    void theCompletionOffersTheOptionsEachCommandTakes_data()
    {
        QTest::addColumn<QByteArray>("command");
        for (const Command* command : commands()) {
            if (*command->options != '*')
                QTest::newRow(command->name) << QByteArray(command->name);
        }
    }
    void theCompletionOffersTheOptionsEachCommandTakes()
    {
        QFETCH(QByteArray, command);
        const QStringList offered = completions(
            {QStringLiteral(TAGORA_CLI_PATH), QString::fromUtf8(command), QStringLiteral("-")});
        QCOMPARE(offered, helpOptions(*commandNamed(command)));
        QVERIFY(offered.contains(QLatin1String("--help")));
    }
};

QTEST_GUILESS_MAIN(CliCommandsTest)
#include "tst_clicommands.moc"
