#include "versioninfo.h"

#include "errors.h"
#include "nativepath.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tagora {
namespace {

const char kSectionName[] = ".tagora_version";

// Larger sections are not version blocks; refusing them keeps a hostile file from
// making us allocate its size.
const quint64 kMaxBlockSize = 1 << 20;

bool fileExists(const QString& fileName)
{
    struct stat info;
    return ::stat(pathToNative(fileName).constData(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Reads `size` bytes at `offset`; an empty result when the file is shorter.
QByteArray readAt(QFile& file, quint64 offset, quint64 size)
{
    if (size > kMaxBlockSize || !file.seek(qint64(offset)))
        return {};
    QByteArray data = file.read(qint64(size));
    return quint64(data.size()) == size ? data : QByteArray();
}

// Field readers for both ELF classes and byte orders.
class ElfReader
{
public:
    ElfReader(const QByteArray& data, bool bigEndian) : m_data(data), m_big(bigEndian) {}
    bool has(quint64 at, quint64 size) const { return at + size <= quint64(m_data.size()); }
    quint64 u16(quint64 at) const
    {
        const auto* p = reinterpret_cast<const uchar*>(m_data.constData() + at);
        return m_big ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    }
    quint64 u32(quint64 at) const
    {
        const auto* p = reinterpret_cast<const uchar*>(m_data.constData() + at);
        return m_big ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }
    quint64 u64(quint64 at) const
    {
        const auto* p = reinterpret_cast<const uchar*>(m_data.constData() + at);
        return m_big ? qFromBigEndian<quint64>(p) : qFromLittleEndian<quint64>(p);
    }

private:
    const QByteArray& m_data;
    bool m_big;
};

struct SectionHeader
{
    quint64 name = 0;
    quint64 type = 0;
    quint64 offset = 0;
    quint64 size = 0;
    quint64 link = 0;
};

QByteArray findSection(QFile& file, const QByteArray& wanted)
{
    const QByteArray ident = readAt(file, 0, 64);
    if (ident.size() < 52 || !ident.startsWith("\x7f"
                                               "ELF"))
        return {};
    const bool is64 = ident.at(4) == 2;
    if (!is64 && ident.at(4) != 1)
        return {};
    const bool big = ident.at(5) == 2;
    const ElfReader header(ident, big);

    const quint64 shoff = is64 ? header.u64(0x28) : header.u32(0x20);
    const quint64 shentsize = header.u16(is64 ? 0x3A : 0x2E);
    quint64 shnum = header.u16(is64 ? 0x3C : 0x30);
    quint64 shstrndx = header.u16(is64 ? 0x3E : 0x32);
    const quint64 minEntry = is64 ? 64 : 40;
    if (shoff == 0 || shentsize < minEntry)
        return {};

    auto readHeader = [&](quint64 index, SectionHeader* out) {
        const QByteArray raw = readAt(file, shoff + index * shentsize, minEntry);
        if (raw.isEmpty())
            return false;
        const ElfReader r(raw, big);
        out->name = r.u32(0);
        out->type = r.u32(4);
        out->offset = is64 ? r.u64(0x18) : r.u32(0x10);
        out->size = is64 ? r.u64(0x20) : r.u32(0x14);
        out->link = r.u32(is64 ? 0x28 : 0x18);
        return true;
    };

    // Files with very many sections keep the real counts in the first header.
    SectionHeader first;
    if (!readHeader(0, &first))
        return {};
    if (shnum == 0)
        shnum = first.size;
    if (shstrndx == 0xFFFF)
        shstrndx = first.link;
    if (shnum > 0x10000 || shstrndx >= shnum)
        return {};

    SectionHeader strings;
    if (!readHeader(shstrndx, &strings))
        return {};
    const QByteArray names = readAt(file, strings.offset, strings.size);
    if (names.isEmpty())
        return {};

    const quint64 kNoBits = 8;
    for (quint64 i = 1; i < shnum; ++i) {
        SectionHeader section;
        if (!readHeader(i, &section))
            return {};
        if (section.name >= quint64(names.size()))
            continue;
        const char* name = names.constData() + section.name;
        const qsizetype length = qstrnlen(name, names.size() - qsizetype(section.name));
        if (QByteArray(name, length) != wanted)
            continue;
        if (section.type == kNoBits)
            return {};
        return readAt(file, section.offset, section.size);
    }
    return {};
}

// One node of a version block, with its extent inside the block.
struct Node
{
    int end = 0; // one past the node's last byte
    int type = 0;
    int valueLength = 0;
    QString key;
    int valueStart = 0;
    int valueEnd = 0;
    int childrenStart = 0;
};

int alignUp(int offset)
{
    return (offset + 3) & ~3;
}

quint16 wordAt(const QByteArray& block, int at)
{
    if (at < 0 || at + 2 > block.size())
        return 0;
    const auto* bytes = reinterpret_cast<const uchar*>(block.constData()) + at;
    return quint16(bytes[0] | (bytes[1] << 8));
}

bool parseNode(const QByteArray& block, int at, int limit, Node* node)
{
    if (at < 0 || at + 6 > limit)
        return false;
    const int length = wordAt(block, at);
    if (length < 6 || at + length > limit)
        return false;
    node->end = at + length;
    node->valueLength = wordAt(block, at + 2);
    node->type = wordAt(block, at + 4);
    node->key.clear();
    int pos = at + 6;
    for (;; pos += 2) {
        if (pos + 2 > node->end)
            return false;
        const quint16 unit = wordAt(block, pos);
        if (unit == 0)
            break;
        node->key.append(QChar(unit));
    }
    node->valueStart = qMin(alignUp(pos + 2), node->end);
    const int valueBytes = node->type == 1 ? node->valueLength * 2 : node->valueLength;
    node->valueEnd = qMin(node->valueStart + valueBytes, node->end);
    node->childrenStart = alignUp(node->valueEnd);
    return true;
}

bool rootNode(const QByteArray& block, Node* root)
{
    return parseNode(block, 0, int(qMin<qsizetype>(block.size(), 0xFFFF)), root) &&
           root->key == QLatin1String("VS_VERSION_INFO");
}

bool findChild(const QByteArray& block, const Node& parent, const QString& key, Node* child)
{
    int at = parent.childrenStart;
    while (at + 6 <= parent.end) {
        if (!parseNode(block, at, parent.end, child))
            return false;
        if (child->key.compare(key, Qt::CaseInsensitive) == 0)
            return true;
        at = alignUp(child->end);
    }
    return false;
}

} // namespace

QByteArray readVersionBlock(const QString& fileName)
{
    if (!fileExists(fileName))
        throw EFilerError(QStringLiteral("File not found: ") + fileName);
    const int fd = ::open(pathToNative(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return findSection(file, QByteArray(kSectionName));
}

bool queryVersionValue(const QByteArray& block, const QString& path, QByteArray* value, int* length)
{
    Node node;
    if (!rootNode(block, &node))
        return false;
    const QStringList keys = path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString& key : keys) {
        Node child;
        if (!findChild(block, node, key, &child))
            return false;
        node = child;
    }
    if (value)
        *value = block.mid(node.valueStart, node.valueEnd - node.valueStart);
    if (length)
        *length = node.valueLength;
    return true;
}

QString fileVersionSubBlock(quint16 language, quint16 codePage)
{
    auto hex4 = [](quint16 value) {
        return QString::number(value, 16).rightJustified(4, QLatin1Char('0')).toUpper();
    };
    return QLatin1String("\\StringFileInfo\\") + hex4(language) + hex4(codePage) +
           QLatin1String("\\FileVersion");
}

QString fileVersionFromBlock(const QByteArray& block, const QString& fileName)
{
    Node root;
    if (!rootNode(block, &root))
        throw EReadError(QStringLiteral("Invalid version info record in file ") + fileName);

    QByteArray translation;
    if (!queryVersionValue(block, QStringLiteral("\\VarFileInfo\\Translation"), &translation,
                           nullptr) ||
        translation.size() < 4)
        throw EReadError(QStringLiteral("Invalid language info in file ") + fileName);

    // Only the first language/code-page pair counts.
    const quint16 language = wordAt(translation, 0);
    const quint16 codePage = wordAt(translation, 2);

    QByteArray text;
    int length = 0;
    if (!queryVersionValue(block, fileVersionSubBlock(language, codePage), &text, &length) ||
        length == 0)
        return QStringLiteral("n/a");
    QString result;
    for (int at = 0; at + 1 < text.size(); at += 2) {
        const quint16 unit = wordAt(text, at);
        if (unit == 0)
            break;
        result.append(QChar(unit));
    }
    return result;
}

QString runningExecutablePath()
{
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t length = ::readlink("/proc/self/exe", target.data(), size_t(target.size()));
    if (length > 0 && length < target.size())
        return pathFromNative(target.left(length));
    return QCoreApplication::applicationFilePath();
}

QString GetFileVersionString(const QString& fileName)
{
    return fileVersionFromBlock(readVersionBlock(fileName), fileName);
}

} // namespace tagora
