#pragma once
// Tiny images made at test time: a PNG and a JPEG whose headers declare the given size. Their
// pixel data is not meant to be decoded; what a tag library stores is the bytes.

#include "support/bytes.h"

#include <QByteArray>

namespace tagora::test {

inline quint32 crc32Of(const QByteArray& bytes)
{
    quint32 crc = 0xffffffffu;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline QByteArray pngChunk(const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type) + data;
    return bigEndian32(quint32(data.size())) + typed + bigEndian32(crc32Of(typed));
}

inline QByteArray tinyPng(quint32 width, quint32 height)
{
    const QByteArray header = bigEndian32(width) + bigEndian32(height) +
                              QByteArray::fromHex("0806000000"); // RGBA, 8 bits
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
           pngChunk("IDAT", QByteArray::fromHex("789c63600000000200012")) +
           pngChunk("IEND", QByteArray());
}

inline QByteArray tinyJpeg(quint16 width, quint16 height)
{
    QByteArray frame = QByteArray::fromHex("ffc0001108");
    frame += char(height >> 8);
    frame += char(height & 0xff);
    frame += char(width >> 8);
    frame += char(width & 0xff);
    frame += QByteArray::fromHex("03012200021101031101");
    return QByteArray::fromHex("ffd8ffe000104a46494600010100000100010000") + frame +
           QByteArray::fromHex("ffd9");
}

} // namespace tagora::test
