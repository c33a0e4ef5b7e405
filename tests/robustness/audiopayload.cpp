#include "audiopayload.h"

#include <QList>

namespace robustness {
namespace {

quint32 bigEndian32(const QByteArray& b, qsizetype at)
{
    const auto u = [&b](qsizetype i) { return quint32(quint8(b[i])); };
    return u(at) << 24 | u(at + 1) << 16 | u(at + 2) << 8 | u(at + 3);
}

quint32 littleEndian32(const QByteArray& b, qsizetype at)
{
    const auto u = [&b](qsizetype i) { return quint32(quint8(b[i])); };
    return u(at + 3) << 24 | u(at + 2) << 16 | u(at + 1) << 8 | u(at);
}

quint64 littleEndian64(const QByteArray& b, qsizetype at)
{
    return quint64(littleEndian32(b, at + 4)) << 32 | littleEndian32(b, at);
}

// End of the ID3v2 tags at the start of the file (several may follow one another).
qsizetype afterLeadingId3v2(const QByteArray& b)
{
    qsizetype pos = 0;
    while (b.size() - pos >= 10 && b.mid(pos, 3) == "ID3") {
        quint64 size = 0;
        for (int i = 6; i < 10; ++i) {
            const quint8 c = quint8(b[pos + i]);
            if (c & 0x80)
                return pos;
            size = size << 7 | c;
        }
        const quint64 total = 10 + size + ((quint8(b[pos + 5]) & 0x10) ? 10 : 0);
        if (total > quint64(b.size() - pos))
            return pos;
        pos += qsizetype(total);
    }
    return pos;
}

// Start of the APE and ID3v1 tags at the end of the file, in any order.
qsizetype beforeTrailingTags(const QByteArray& b, qsizetype start)
{
    qsizetype end = b.size();
    for (bool found = true; found;) {
        found = false;
        if (end - start >= 128 && b.mid(end - 128, 3) == "TAG") {
            end -= 128;
            found = true;
        }
        if (end - start >= 32 && b.mid(end - 32, 8) == "APETAGEX") {
            const quint64 size = littleEndian32(b, end - 32 + 12);
            const bool header = (littleEndian32(b, end - 32 + 20) & 0x80000000u) != 0;
            const quint64 total = size + (header ? 32 : 0);
            if (total < 32 || total > quint64(end - start))
                break;
            end -= qsizetype(total);
            found = true;
        }
    }
    return end;
}

// Length of a complete ID3v2 tag at `pos`, 0 when there is none.
qsizetype id3v2At(const QByteArray& b, qsizetype pos)
{
    if (b.size() - pos < 10 || b.mid(pos, 3) != "ID3")
        return 0;
    quint64 size = 0;
    for (int i = 6; i < 10; ++i) {
        const quint8 c = quint8(b[pos + i]);
        if (c & 0x80)
            return 0;
        size = size << 7 | c;
    }
    const quint64 total = 10 + size + ((quint8(b[pos + 5]) & 0x10) ? 10 : 0);
    return total <= quint64(b.size() - pos) ? qsizetype(total) : 0;
}

std::optional<QByteArray> mpegOrApe(const QByteArray& b)
{
    const qsizetype start = afterLeadingId3v2(b);
    const qsizetype end = beforeTrailingTags(b, start);
    // TagLib also takes an ID3v2 tag after leading junk for the file's tag, and rewrites it
    // where it is.
    for (qsizetype at = b.indexOf("ID3", start); at >= 0 && at < end;
         at = b.indexOf("ID3", at + 1)) {
        if (const qsizetype length = id3v2At(b, at); length > 0 && at + length <= end)
            return b.mid(start, at - start) + b.mid(at + length, end - at - length);
    }
    return b.mid(start, end - start);
}

std::optional<QByteArray> flac(const QByteArray& b)
{
    const qsizetype marker = b.indexOf("fLaC", afterLeadingId3v2(b));
    if (marker < 0)
        return std::nullopt;
    qsizetype pos = marker + 4;
    QByteArray payload;
    for (bool last = false; !last;) {
        if (b.size() - pos < 4)
            return std::nullopt;
        const int type = quint8(b[pos]) & 0x7f;
        last = (quint8(b[pos]) & 0x80) != 0;
        const qsizetype length = qsizetype(bigEndian32(b, pos) & 0xffffff);
        if (b.size() - pos - 4 < length)
            return std::nullopt;
        if (type == 0)
            payload += b.mid(pos + 4, length);
        pos += 4 + length;
    }
    const qsizetype end =
        b.size() - pos >= 128 && b.mid(b.size() - 128, 3) == "TAG" ? b.size() - 128 : b.size();
    return payload + b.mid(pos, end - pos);
}

std::optional<QByteArray> ogg(const QByteArray& b)
{
    QList<QByteArray> packets(1);
    qsizetype pos = b.indexOf("OggS");
    if (pos < 0)
        return std::nullopt;
    while (b.size() - pos >= 27 && b.mid(pos, 4) == "OggS") {
        const int segments = quint8(b[pos + 26]);
        if (b.size() - pos - 27 < segments)
            break;
        qsizetype data = pos + 27 + segments;
        for (int s = 0; s < segments; ++s) {
            const int lacing = quint8(b[pos + 27 + s]);
            packets.back() += b.mid(data, lacing);
            data += lacing;
            if (lacing < 255)
                packets.append(QByteArray());
        }
        pos = data;
    }
    QByteArray payload;
    for (qsizetype i = 0; i < packets.size(); ++i) {
        if (i == 1)
            continue;
        payload += QByteArray::number(packets[i].size()) + ':' + packets[i];
    }
    return payload;
}

std::optional<QByteArray> mp4(const QByteArray& b)
{
    QByteArray payload;
    bool found = false;
    qsizetype pos = 0;
    while (b.size() - pos >= 8) {
        quint64 length = bigEndian32(b, pos);
        qsizetype header = 8;
        if (length == 0) {
            length = quint64(b.size() - pos);
        } else if (length == 1) {
            if (b.size() - pos < 16)
                break;
            length = quint64(bigEndian32(b, pos + 8)) << 32 | bigEndian32(b, pos + 12);
            header = 16;
        }
        if (length < quint64(header) || length > quint64(b.size() - pos))
            break;
        if (b.mid(pos + 4, 4) == "mdat") {
            payload += b.mid(pos + header, qsizetype(length) - header);
            found = true;
        }
        pos += qsizetype(length);
    }
    if (!found)
        return std::nullopt;
    return payload;
}

std::optional<QByteArray> asf(const QByteArray& b)
{
    static const char headerGuid[] =
        "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
    if (b.size() < 30 || b.left(16) != QByteArray(headerGuid, 16))
        return std::nullopt;
    const quint64 size = littleEndian64(b, 16);
    if (size < 30 || size > quint64(b.size()))
        return std::nullopt;
    return b.mid(qsizetype(size));
}

} // namespace

std::optional<QByteArray> audioPayload(const QByteArray& file, const QString& extension)
{
    const QString ext = extension.toLower();
    if (ext == QLatin1String("mp3") || ext == QLatin1String("ape"))
        return mpegOrApe(file);
    if (ext == QLatin1String("flac"))
        return flac(file);
    if (ext == QLatin1String("ogg"))
        return ogg(file);
    if (ext == QLatin1String("m4a"))
        return mp4(file);
    if (ext == QLatin1String("wma"))
        return asf(file);
    return std::nullopt;
}

} // namespace robustness
