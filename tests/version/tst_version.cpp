#include "services/errors.h"
#include "services/nativepath.h"
#include "services/versioninfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace tagora;

namespace {

// A node of a hand-made version block, laid out as the build lays out the real one.
struct BlockNode
{
    QString key;
    int type = 1;
    QByteArray value;
    int valueLength = 0;
    QList<BlockNode> children;
};

void appendWord(QByteArray& out, int value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

void pad(QByteArray& out)
{
    while (out.size() % 4 != 0)
        out.append('\0');
}

QByteArray utf16z(const QString& text)
{
    QByteArray out;
    for (QChar c : text)
        appendWord(out, c.unicode());
    appendWord(out, 0);
    return out;
}

QByteArray build(const BlockNode& node)
{
    QByteArray out(6, '\0');
    out += utf16z(node.key);
    pad(out);
    out += node.value;
    for (const BlockNode& child : node.children) {
        pad(out);
        out += build(child);
    }
    QByteArray header;
    appendWord(header, int(out.size()));
    appendWord(header, node.valueLength);
    appendWord(header, node.type);
    out.replace(0, 6, header);
    return out;
}

BlockNode text(const char* key, const char* value)
{
    const QString v = QString::fromLatin1(value);
    return {QString::fromLatin1(key), 1, utf16z(v), int(v.size() + 1), {}};
}

BlockNode table(const QString& name, const QList<BlockNode>& strings)
{
    return {name, 1, {}, 0, strings};
}

BlockNode translation(const QList<int>& words)
{
    QByteArray value;
    for (int w : words)
        appendWord(value, w);
    return {QStringLiteral("VarFileInfo"),
            1,
            {},
            0,
            {{QStringLiteral("Translation"), 0, value, int(value.size()), {}}}};
}

QByteArray block(const QList<BlockNode>& tables, const QList<BlockNode>& more)
{
    BlockNode root{QStringLiteral("VS_VERSION_INFO"), 0, QByteArray(52, '\0'), 52, {}};
    root.children.append({QStringLiteral("StringFileInfo"), 1, {}, 0, tables});
    root.children += more;
    return build(root);
}

const QList<int> kUsLatin1 = {0x0409, 0x04E4};

QString builtProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tagora");
}

} // namespace

class TestVersion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile text(m_dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("\x7f"
                   "ELF but not really\n");
    }

    void builtProgramCarriesTheProjectVersion()
    {
        const QString program = builtProgram();
        QCOMPARE(GetFileVersionString(program), QStringLiteral(TAGORA_PROJECT_VERSION));

        const QByteArray data = readVersionBlock(program);
        QByteArray value;
        QVERIFY(queryVersionValue(data, QStringLiteral("\\StringFileInfo\\040904E4\\ProductName"),
                                  &value, nullptr));
        QCOMPARE(value, utf16z(QStringLiteral("Corvane Tagora")));
        // The fixed file info opens with its signature.
        QVERIFY(queryVersionValue(data, QString(), &value, nullptr));
        QCOMPARE(qFromLittleEndian<quint32>(value.constData()), 0xFEEF04BDu);
    }

    void fileNameBytesSurvive()
    {
        // A name that is not valid UTF-8 must still reach the file.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile source(builtProgram());
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QByteArray native = QFile::encodeName(dir.path()) + "/tag\xff\xfeora";
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        const QByteArray contents = source.readAll();
        QCOMPARE(::write(fd, contents.constData(), size_t(contents.size())),
                 ssize_t(contents.size()));
        ::close(fd);
        QCOMPARE(GetFileVersionString(pathFromNative(native)),
                 QStringLiteral(TAGORA_PROJECT_VERSION));
    }

    void filesWithoutAVersion_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("readError");

        const QString library =
            QCoreApplication::applicationDirPath() + QStringLiteral("/libtagwrapper.so");
        QTest::newRow("library without block")
            << library << QStringLiteral("Invalid version info record in file ") + library << true;
        const QString missing =
            QCoreApplication::applicationDirPath() + QStringLiteral("/no such program");
        QTest::newRow("missing") << missing << QStringLiteral("File not found: ") + missing
                                 << false;
        const QString folder = QCoreApplication::applicationDirPath();
        QTest::newRow("folder") << folder << QStringLiteral("File not found: ") + folder << false;
        const QString notElf = m_dir.filePath(QStringLiteral("notes.txt"));
        QTest::newRow("not an executable")
            << notElf << QStringLiteral("Invalid version info record in file ") + notElf << true;
    }

    void filesWithoutAVersion()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        QFETCH(bool, readError);
        try {
            GetFileVersionString(fileName);
            QFAIL("no error raised");
        } catch (const EReadError& e) {
            QVERIFY(readError);
            QCOMPARE(e.message(), message);
        } catch (const EFilerError& e) {
            QVERIFY(!readError);
            QCOMPARE(e.message(), message);
        }
    }

    void handMadeBlocks_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");

        const QString name = QStringLiteral("/opt/x/prog");
        const QString badRecord = QStringLiteral("Invalid version info record in file ") + name;
        const QString badLanguage = QStringLiteral("Invalid language info in file ") + name;
        const BlockNode usTable = table(QStringLiteral("040904E4"),
                                        {text("ProductName", "P"), text("FileVersion", "2.3.4.5")});
        const BlockNode germanTable =
            table(QStringLiteral("040704B0"), {text("FileVersion", "9.9.9.9")});

        QTest::newRow("complete") << block({usTable}, {translation(kUsLatin1)})
                                  << QStringLiteral("2.3.4.5");
        QTest::newRow("no translation") << block({usTable}, {}) << badLanguage;
        QTest::newRow("short translation")
            << block({usTable}, {translation({0x0409})}) << badLanguage;
        QTest::newRow("empty translation") << block({usTable}, {translation({})}) << badLanguage;
        QTest::newRow("no FileVersion")
            << block({table(QStringLiteral("040904E4"), {text("ProductVersion", "2.3.4.5")})},
                     {translation(kUsLatin1)})
            << QStringLiteral("n/a");
        QTest::newRow("empty FileVersion value")
            << block({table(QStringLiteral("040904E4"),
                            {{QStringLiteral("FileVersion"), 1, {}, 0, {}}})},
                     {translation(kUsLatin1)})
            << QStringLiteral("n/a");
        QTest::newRow("no table for the pair")
            << block({germanTable}, {translation(kUsLatin1)}) << QStringLiteral("n/a");
        QTest::newRow("second pair ignored")
            << block({germanTable}, {translation({0x0409, 0x04E4, 0x0407, 0x04B0})})
            << QStringLiteral("n/a");
        QTest::newRow("first pair wins")
            << block({germanTable, usTable}, {translation({0x0409, 0x04E4, 0x0407, 0x04B0})})
            << QStringLiteral("2.3.4.5");
        QTest::newRow("empty") << QByteArray() << badRecord;
        QTest::newRow("garbage") << QByteArray("\x10\x00garbage-bytes", 15) << badRecord;

        QByteArray truncated = block({usTable}, {translation(kUsLatin1)});
        truncated.chop(40);
        QTest::newRow("truncated") << truncated << badRecord;

        // A child claiming zero length must end the walk, not loop on it.
        QByteArray zeroChild = block({usTable}, {translation(kUsLatin1)});
        zeroChild[0x5C] = 0;
        zeroChild[0x5D] = 0;
        QTest::newRow("zero-length child") << zeroChild << badLanguage;
    }

    void handMadeBlocks()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        QString result;
        try {
            result = fileVersionFromBlock(data, QStringLiteral("/opt/x/prog"));
        } catch (const EReadError& e) {
            result = e.message();
        }
        QCOMPARE(result, expected);
    }

    void subBlockName()
    {
        QCOMPARE(fileVersionSubBlock(0x0409, 0x04E4),
                 QStringLiteral("\\StringFileInfo\\040904E4\\FileVersion"));
        QCOMPARE(fileVersionSubBlock(0x0007, 0xABCD),
                 QStringLiteral("\\StringFileInfo\\0007ABCD\\FileVersion"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestVersion)
#include "tst_version.moc"
