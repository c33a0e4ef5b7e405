// The bytes of an audio file that carry its coded audio, per type, found by walking the
// container with no help from TagLib: a tag operation must leave exactly these bytes alone.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <algorithm>

namespace test {

inline quint32 be32(const QByteArray& b, qsizetype at)
{
    return (quint32(quint8(b[at])) << 24) | (quint32(quint8(b[at + 1])) << 16) |
           (quint32(quint8(b[at + 2])) << 8) | quint32(quint8(b[at + 3]));
}

inline quint32 le32(const QByteArray& b, qsizetype at)
{
    return quint32(quint8(b[at])) | (quint32(quint8(b[at + 1])) << 8) |
           (quint32(quint8(b[at + 2])) << 16) | (quint32(quint8(b[at + 3])) << 24);
}

// The bytes between any leading ID3v2 tags and any trailing APE and ID3v1 tags.
inline QByteArray withoutFramingTags(QByteArray b)
{
    while (b.startsWith("ID3") && b.size() >= 10) {
        const qsizetype size = (qsizetype(b[6] & 0x7f) << 21) | (qsizetype(b[7] & 0x7f) << 14) |
                               (qsizetype(b[8] & 0x7f) << 7) | qsizetype(b[9] & 0x7f);
        b.remove(0, 10 + size + ((b[5] & 0x10) ? 10 : 0));
    }
    if (b.size() >= 128 && b.mid(b.size() - 128, 3) == "TAG")
        b.chop(128);
    if (b.size() >= 32 && b.mid(b.size() - 32, 8) == "APETAGEX") {
        const quint32 size = le32(b, b.size() - 32 + 12);
        const bool hasHeader = le32(b, b.size() - 32 + 20) & 0x80000000u;
        b.chop(size + (hasHeader ? 32 : 0));
    }
    return b;
}

// The part of each format that carries the coded audio, which no tag operation may touch.
inline QByteArray audioPayload(const QString& type, const QByteArray& file)
{
    if (type == QLatin1String("mp3") || type == QLatin1String("ape"))
        return withoutFramingTags(file);
    if (type == QLatin1String("flac")) {
        QByteArray b = withoutFramingTags(file);
        if (!b.startsWith("fLaC"))
            return {};
        qsizetype at = 4;
        bool last = false;
        while (!last && at + 4 <= b.size()) {
            last = b[at] & 0x80;
            at += 4 + qsizetype(be32(b, at) & 0xffffff);
        }
        return b.mid(at);
    }
    if (type == QLatin1String("m4a")) {
        for (qsizetype at = 0; at + 8 <= file.size();) {
            const qsizetype size = be32(file, at);
            if (size < 8)
                return {};
            if (file.mid(at + 4, 4) == "mdat")
                return file.mid(at + 8, size - 8);
            at += size;
        }
        return {};
    }
    if (type == QLatin1String("wma")) {
        // The header object comes first; the data and index objects after it are the audio.
        if (file.size() < 24)
            return {};
        const qsizetype headerSize = le32(file, 16);
        return file.mid(headerSize);
    }
    if (type == QLatin1String("ogg")) {
        // Packets after the three Vorbis header packets, independent of how they are paged,
        // gathered in one buffer (a large file holds over a million of them).
        const QByteArrayView bytes(file);
        QByteArray audio;
        audio.reserve(file.size());
        qsizetype packets = 0;
        for (qsizetype at = 0; at + 27 <= file.size() && bytes.sliced(at, 4) == "OggS";) {
            const int segments = quint8(file[at + 26]);
            qsizetype body = at + 27 + segments;
            for (int i = 0; i < segments && body <= file.size(); ++i) {
                const int lace = quint8(file[at + 27 + i]);
                if (packets >= 3)
                    audio.append(bytes.sliced(body, std::min<qsizetype>(lace, file.size() - body)));
                body += lace;
                if (lace < 255)
                    ++packets;
            }
            at = body;
        }
        return packets > 3 ? audio : QByteArray();
    }
    return {};
}

} // namespace test
