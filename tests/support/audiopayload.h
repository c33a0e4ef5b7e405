// The bytes of an audio file that no tag operation may change: its audio data, found by
// walking the container with no help from TagLib, with every tag region left out. Used to
// prove that writing and stripping tags leaves the audio alone, on intact and on damaged
// files alike.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <optional>

namespace tagora::test {

inline quint32 be32(const QByteArray& b, qsizetype at)
{
    const auto u = [&b](qsizetype i) { return quint32(quint8(b[i])); };
    return u(at) << 24 | u(at + 1) << 16 | u(at + 2) << 8 | u(at + 3);
}

inline quint32 le32(const QByteArray& b, qsizetype at)
{
    const auto u = [&b](qsizetype i) { return quint32(quint8(b[i])); };
    return u(at + 3) << 24 | u(at + 2) << 16 | u(at + 1) << 8 | u(at);
}

namespace payload {

inline quint64 le64(const QByteArray& b, qsizetype at)
{
    return quint64(le32(b, at + 4)) << 32 | le32(b, at);
}

// Length of a complete ID3v2 tag at `pos`, 0 when there is none.
inline qsizetype id3v2At(const QByteArray& b, qsizetype pos)
{
    if (b.size() - pos < 10 || QByteArrayView(b).sliced(pos, 3) != "ID3")
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

// End of the ID3v2 tags at the start of the file (several may follow one another).
inline qsizetype afterLeadingId3v2(const QByteArray& b)
{
    qsizetype pos = 0;
    while (const qsizetype length = id3v2At(b, pos))
        pos += length;
    return pos;
}

// Start of the APE and ID3v1 tags at the end of the file, in any order.
inline qsizetype beforeTrailingTags(const QByteArray& b, qsizetype start)
{
    const QByteArrayView bytes(b);
    qsizetype end = b.size();
    for (bool found = true; found;) {
        found = false;
        if (end - start >= 128 && bytes.sliced(end - 128, 3) == "TAG") {
            end -= 128;
            found = true;
        }
        if (end - start >= 32 && bytes.sliced(end - 32, 8) == "APETAGEX") {
            const quint64 size = le32(b, end - 32 + 12);
            const bool header = (le32(b, end - 32 + 20) & 0x80000000u) != 0;
            const quint64 total = size + (header ? 32 : 0);
            if (total < 32 || total > quint64(end - start))
                break;
            end -= qsizetype(total);
            found = true;
        }
    }
    return end;
}

// Everything between leading ID3v2 tags and trailing APE / ID3v1 tags. TagLib also takes an
// ID3v2 tag after leading junk for the file's tag, and rewrites it where it is.
inline std::optional<QByteArray> mpegOrApe(const QByteArray& b)
{
    const qsizetype start = afterLeadingId3v2(b);
    const qsizetype end = beforeTrailingTags(b, start);
    for (qsizetype at = b.indexOf("ID3", start); at >= 0 && at < end;
         at = b.indexOf("ID3", at + 1)) {
        if (const qsizetype length = id3v2At(b, at); length > 0 && at + length <= end)
            return b.mid(start, at - start) + b.mid(at + length, end - at - length);
    }
    return b.mid(start, end - start);
}

// The stream-info block and everything after the metadata blocks (less an ID3v1 tag).
inline std::optional<QByteArray> flac(const QByteArray& b)
{
    const qsizetype marker = b.indexOf("fLaC", afterLeadingId3v2(b));
    if (marker < 0)
        return std::nullopt;
    qsizetype pos = marker + 4;
    QByteArray audio;
    for (bool last = false; !last;) {
        if (b.size() - pos < 4)
            return std::nullopt;
        const int type = quint8(b[pos]) & 0x7f;
        last = (quint8(b[pos]) & 0x80) != 0;
        const qsizetype length = qsizetype(be32(b, pos) & 0xffffff);
        if (b.size() - pos - 4 < length)
            return std::nullopt;
        if (type == 0)
            audio += b.mid(pos + 4, length);
        pos += 4 + length;
    }
    const qsizetype end =
        b.size() - pos >= 128 && QByteArrayView(b).sliced(b.size() - 128, 3) == "TAG"
            ? b.size() - 128
            : b.size();
    return audio + b.mid(pos, end - pos);
}

// Every packet but the comment packet, and where each ends (as a hash of their lengths):
// pages may be renumbered and split differently, packets not. One buffer for all, as a large
// file holds over a million packets.
inline std::optional<QByteArray> ogg(const QByteArray& b)
{
    const QByteArrayView bytes(b);
    qsizetype pos = b.indexOf("OggS");
    if (pos < 0)
        return std::nullopt;
    QByteArray audio;
    audio.reserve(b.size());
    quint64 ends = 14695981039346656037ull; // FNV-1a
    qsizetype packet = 0;
    qsizetype length = 0;
    while (b.size() - pos >= 27 && bytes.sliced(pos, 4) == "OggS") {
        const int segments = quint8(b[pos + 26]);
        if (b.size() - pos - 27 < segments)
            break;
        qsizetype data = pos + 27 + segments;
        for (int s = 0; s < segments; ++s) {
            const int lacing = quint8(b[pos + 27 + s]);
            // A page cut short keeps what it has.
            const qsizetype present = std::clamp<qsizetype>(b.size() - data, 0, lacing);
            if (packet != 1)
                audio.append(bytes.sliced(data, present));
            length += present;
            data += lacing;
            if (lacing < 255) {
                if (packet != 1)
                    ends = (ends ^ quint64(length)) * 1099511628211ull;
                ++packet;
                length = 0;
            }
        }
        pos = data;
    }
    ends = (ends ^ quint64(length)) * 1099511628211ull;
    return audio + QByteArray::number(ends);
}

// The contents of every top-level mdat atom.
inline std::optional<QByteArray> mp4(const QByteArray& b)
{
    QByteArray audio;
    bool found = false;
    qsizetype pos = 0;
    while (b.size() - pos >= 8) {
        quint64 length = be32(b, pos);
        qsizetype header = 8;
        if (length == 0) {
            length = quint64(b.size() - pos);
        } else if (length == 1) {
            if (b.size() - pos < 16)
                break;
            length = quint64(be32(b, pos + 8)) << 32 | be32(b, pos + 12);
            header = 16;
        }
        if (length < quint64(header) || length > quint64(b.size() - pos))
            break;
        if (QByteArrayView(b).sliced(pos + 4, 4) == "mdat") {
            audio += b.mid(pos + header, qsizetype(length) - header);
            found = true;
        }
        pos += qsizetype(length);
    }
    if (!found)
        return std::nullopt;
    return audio;
}

// Everything after the header object.
inline std::optional<QByteArray> asf(const QByteArray& b)
{
    static const char headerGuid[] =
        "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
    if (b.size() < 30 || b.left(16) != QByteArray(headerGuid, 16))
        return std::nullopt;
    const quint64 size = le64(b, 16);
    if (size < 30 || size > quint64(b.size()))
        return std::nullopt;
    return b.mid(qsizetype(size));
}

} // namespace payload

// By the type (mp3, ape, flac, ogg, m4a, wma, in any case); nothing when the structure
// cannot be followed.
inline std::optional<QByteArray> audioPayload(const QString& type, const QByteArray& file)
{
    const QString t = type.toLower();
    if (t == QLatin1String("mp3") || t == QLatin1String("ape"))
        return payload::mpegOrApe(file);
    if (t == QLatin1String("flac"))
        return payload::flac(file);
    if (t == QLatin1String("ogg"))
        return payload::ogg(file);
    if (t == QLatin1String("m4a"))
        return payload::mp4(file);
    if (t == QLatin1String("wma"))
        return payload::asf(file);
    return std::nullopt;
}

} // namespace tagora::test
