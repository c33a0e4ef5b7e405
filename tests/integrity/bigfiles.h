// Large audio files made at test time from the small committed fixtures, so that a save has
// many megabytes to copy or shift while it can be interrupted. The container stays one TagLib
// reads as valid, and the extra bytes are real audio units of the fixture repeated:
//   mp3   the fixture's frames repeated (MPEG audio is a plain sequence of frames);
//   flac  the audio frames after the metadata blocks repeated;
//   ogg   the audio packets repeated on new pages, 255 lacing values each (about 4 KB, as
//         encoders make them), with sequence numbers, granule positions growing at the
//         fixture's rate, checksums, and the end-of-stream flag on the last page;
//   m4a   rebuilt with moov before mdat (so a growing tag shifts all of the audio and TagLib
//         must rewrite the chunk offsets), mdat filled with copies of its content and the
//         chunk offsets moved by the new distance;
//   wma   the data object's packets repeated, its size and packet count updated;
//   ape   the frame data region lengthened with zero bytes after the one silent frame, the
//         length in the descriptor updated (there is no Monkey's Audio encoder in Debian).
#pragma once

#include "support/audiopayload.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

namespace tagora::test {

// Byte by byte through QByteArray's operator[]: GCC's bounds warnings (with sanitizers) take
// pointer arithmetic on constData() for an overrun of the shared empty array.
inline quint64 getLe(const QByteArray& b, qsizetype at, int bytes)
{
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

inline quint64 getBe(const QByteArray& b, qsizetype at, int bytes)
{
    quint64 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

inline void putLe(QByteArray& b, qsizetype at, quint64 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char(v >> (8 * i));
}

inline void putBe(QByteArray& b, qsizetype at, quint64 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char(v >> (8 * (bytes - 1 - i)));
}

inline void putLe32(QByteArray& b, qsizetype at, quint32 v)
{
    putLe(b, at, v, 4);
}

inline void putLe64(QByteArray& b, qsizetype at, quint64 v)
{
    putLe(b, at, v, 8);
}

inline void putBe32(QByteArray& b, qsizetype at, quint32 v)
{
    putBe(b, at, v, 4);
}

inline quint64 le64(const QByteArray& b, qsizetype at)
{
    return getLe(b, at, 8);
}

inline quint32 oggChecksum(const QByteArray& page)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 r = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    quint32 crc = 0;
    for (const char c : page)
        crc = (crc << 8) ^ table[((crc >> 24) ^ quint8(c)) & 0xff];
    return crc;
}

inline QByteArray repeatedTo(const QByteArray& unit, qsizetype size)
{
    QByteArray out;
    if (unit.isEmpty())
        return out;
    out.reserve(size + unit.size());
    while (out.size() < size)
        out += unit;
    return out;
}

inline QByteArray oggPage(const QByteArray& like, quint8 flags, qint64 granule, quint32 sequence,
                          const QList<QByteArray>& packets)
{
    QByteArray lacing;
    QByteArray body;
    for (const QByteArray& packet : packets) {
        lacing += QByteArray(packet.size() / 255, char(255));
        lacing += char(packet.size() % 255);
        body += packet;
    }
    QByteArray page = like.left(27) + lacing + body;
    page[5] = char(flags);
    putLe64(page, 6, quint64(granule));
    putLe32(page, 18, sequence);
    putLe32(page, 22, 0);
    page[26] = char(lacing.size());
    putLe32(page, 22, oggChecksum(page));
    return page;
}

inline QByteArray enlargedOgg(const QByteArray& small, qsizetype target)
{
    // The header pages as they are, and the audio packets of the rest.
    QByteArray out;
    int headerPages = 0;
    QList<QByteArray> packets;
    QByteArray packet;
    qint64 lastGranule = 0;
    QByteArray firstPage;
    for (qsizetype at = 0; at + 27 <= small.size();) {
        const int segments = quint8(small[at + 26]);
        qsizetype length = 27 + segments;
        for (int i = 0; i < segments; ++i)
            length += quint8(small[at + 27 + i]);
        const qint64 granule = qint64(le64(small, at + 6));
        if (firstPage.isEmpty())
            firstPage = small.mid(at, 27);
        if (granule == 0) {
            out += small.mid(at, length);
            ++headerPages;
        } else {
            lastGranule = granule;
            qsizetype body = at + 27 + segments;
            for (int i = 0; i < segments; ++i) {
                const int lace = quint8(small[at + 27 + i]);
                packet += small.mid(body, lace);
                body += lace;
                if (lace < 255) {
                    packets.append(packet);
                    packet.clear();
                }
            }
        }
        at += length;
    }
    if (packets.isEmpty())
        return {};
    // Pages as full as a page gets (255 lacing values), as encoders make them for long
    // files; granule positions grow with the packets at the fixture's rate.
    quint32 sequence = quint32(headerPages);
    qint64 used = 0;
    while (out.size() < target) {
        QList<QByteArray> onPage;
        int lacing = 0;
        for (;;) {
            const QByteArray& next = packets[int(used % packets.size())];
            const int needed = int(next.size() / 255) + 1;
            if (lacing + needed > 255)
                break;
            onPage.append(next);
            lacing += needed;
            ++used;
        }
        const bool last = out.size() + 27 + lacing + onPage.join().size() >= target;
        const qint64 granule = used * lastGranule / packets.size();
        out += oggPage(firstPage, last ? 0x04 : 0x00, granule, sequence++, onPage);
    }
    return out;
}

inline QByteArray enlargedFlac(const QByteArray& small, qsizetype target)
{
    qsizetype at = 4;
    bool last = false;
    while (!last && at + 4 <= small.size()) {
        last = small[at] & 0x80;
        at += 4 + qsizetype(be32(small, at) & 0xffffff);
    }
    return small.left(at) + repeatedTo(small.mid(at), target - at);
}

// Moves every chunk offset (stco, co64) inside moov by delta.
inline void moveChunkOffsets(QByteArray& moov, qsizetype from, qsizetype to, qint64 delta)
{
    for (qsizetype at = from; at + 8 <= to;) {
        const qsizetype size = be32(moov, at);
        if (size < 8 || at + size > to)
            return;
        const QByteArray type = moov.mid(at + 4, 4);
        if (type == "trak" || type == "mdia" || type == "minf" || type == "stbl") {
            moveChunkOffsets(moov, at + 8, at + size, delta);
        } else if (type == "stco" || type == "co64") {
            const bool wide = type == "co64";
            const quint32 count = be32(moov, at + 12);
            for (quint32 i = 0; i < count; ++i) {
                const qsizetype entry = at + 16 + qsizetype(i) * (wide ? 8 : 4);
                if (wide) {
                    putBe(moov, entry, getBe(moov, entry, 8) + quint64(delta), 8);
                } else {
                    putBe32(moov, entry, quint32(be32(moov, entry) + delta));
                }
            }
        }
        at += size;
    }
}

inline QByteArray enlargedMp4(const QByteArray& small, qsizetype target)
{
    QByteArray ftyp, moov, content;
    qsizetype contentAt = 0;
    for (qsizetype at = 0; at + 8 <= small.size();) {
        const qsizetype size = be32(small, at);
        if (size < 8)
            return {};
        const QByteArray type = small.mid(at + 4, 4);
        if (type == "ftyp")
            ftyp = small.mid(at, size);
        else if (type == "moov")
            moov = small.mid(at, size);
        else if (type == "mdat") {
            content = small.mid(at + 8, size - 8);
            contentAt = at + 8;
        }
        at += size;
    }
    if (ftyp.isEmpty() || moov.isEmpty() || content.isEmpty())
        return {};
    const qsizetype newContentAt = ftyp.size() + moov.size() + 8;
    moveChunkOffsets(moov, 8, moov.size(), qint64(newContentAt) - qint64(contentAt));
    const QByteArray audio = repeatedTo(content, target - newContentAt);
    QByteArray mdat(8, '\0');
    putBe32(mdat, 0, quint32(audio.size() + 8));
    mdat.replace(4, 4, "mdat");
    return ftyp + moov + mdat + audio;
}

inline QByteArray enlargedAsf(const QByteArray& small, qsizetype target)
{
    const qsizetype header = qsizetype(le64(small, 16));
    const qsizetype dataSize = qsizetype(le64(small, header + 16));
    const quint64 packets = le64(small, header + 40);
    if (packets == 0 || header + dataSize > small.size())
        return {};
    const QByteArray allPackets = small.mid(header + 50, dataSize - 50);
    const qsizetype packetSize = allPackets.size() / qsizetype(packets);
    QByteArray grown = repeatedTo(allPackets, target - header - 50);
    grown.truncate(grown.size() - grown.size() % packetSize);
    QByteArray out = small.left(header + 50) + grown + small.mid(header + dataSize);
    putLe64(out, header + 16, quint64(grown.size() + 50));
    putLe64(out, header + 40, quint64(grown.size() / packetSize));
    return out;
}

inline QByteArray enlargedApe(const QByteArray& small, qsizetype target)
{
    if (!small.startsWith("MAC ") || small.size() >= target)
        return {};
    QByteArray out = small + QByteArray(target - small.size(), '\0');
    putLe32(out, 24, quint32(le32(small, 24) + (target - small.size())));
    return out;
}

// The fixture of the given type grown to about target bytes; empty if it has an unexpected
// layout.
inline QByteArray enlarged(const QString& type, const QByteArray& small, qsizetype target)
{
    if (type == QLatin1String("mp3"))
        return repeatedTo(small, target);
    if (type == QLatin1String("flac"))
        return enlargedFlac(small, target);
    if (type == QLatin1String("ogg"))
        return enlargedOgg(small, target);
    if (type == QLatin1String("m4a"))
        return enlargedMp4(small, target);
    if (type == QLatin1String("wma"))
        return enlargedAsf(small, target);
    if (type == QLatin1String("ape"))
        return enlargedApe(small, target);
    return {};
}

} // namespace tagora::test
