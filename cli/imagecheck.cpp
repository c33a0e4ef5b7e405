#include "imagecheck.h"

#include <QtEndian>

namespace tagora::cli {
namespace {

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);
constexpr int kPngHeaderEnd = 8 + 8 + 13; // signature, IHDR length and type, IHDR data

quint32 bigEndian32At(const QByteArray& bytes, qsizetype pos)
{
    return qFromBigEndian<quint32>(bytes.constData() + pos);
}

quint16 bigEndian16At(const QByteArray& bytes, qsizetype pos)
{
    return qFromBigEndian<quint16>(bytes.constData() + pos);
}

bool inspectPng(const QByteArray& bytes, ImageInfo& info, QByteArray& reason)
{
    if (bytes.size() < kPngHeaderEnd || bigEndian32At(bytes, 8) != 13 ||
        bytes.mid(12, 4) != "IHDR") {
        reason = "a PNG signature without a PNG header";
        return false;
    }
    info = {"image/png", bigEndian32At(bytes, 16), bigEndian32At(bytes, 20)};
    return true;
}

// Start-of-frame markers: C0 to CF but for C4 (Huffman tables), C8 (reserved) and CC
// (arithmetic coding conditioning).
bool isFrameMarker(unsigned char marker)
{
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

// Segments without a length: restart markers, start and end of image, and TEM.
bool isStandalone(unsigned char marker)
{
    return (marker >= 0xd0 && marker <= 0xd9) || marker == 0x01;
}

// Walks the JPEG's segments up to its frame header, which holds the size.
bool inspectJpeg(const QByteArray& bytes, ImageInfo& info, QByteArray& reason)
{
    qsizetype pos = 2;
    while (pos + 4 <= bytes.size()) {
        if (quint8(bytes[pos]) != 0xff)
            break;
        const auto marker = quint8(bytes[pos + 1]);
        if (marker == 0xff) { // fill byte
            ++pos;
            continue;
        }
        if (isStandalone(marker)) {
            pos += 2;
            continue;
        }
        const quint16 length = bigEndian16At(bytes, pos + 2);
        if (length < 2 || marker == 0xda) // the scan begins before any frame header
            break;
        if (isFrameMarker(marker)) {
            if (length < 7 || pos + 9 > bytes.size())
                break;
            info = {"image/jpeg", bigEndian16At(bytes, pos + 7), bigEndian16At(bytes, pos + 5)};
            return true;
        }
        pos += 2 + length;
    }
    reason = "a JPEG signature without a JPEG frame header";
    return false;
}

} // namespace

bool inspectImage(const QByteArray& bytes, ImageInfo& info, QByteArray& reason)
{
    bool known = false;
    if (bytes.startsWith(kPngSignature))
        known = inspectPng(bytes, info, reason);
    else if (bytes.startsWith("\xff\xd8\xff"))
        known = inspectJpeg(bytes, info, reason);
    else
        reason = "not a JPEG or PNG image";
    if (known && (info.width == 0 || info.height == 0 || info.width > 0x7fffffffu ||
                  info.height > 0x7fffffffu)) {
        reason = "the image header declares a size of " + QByteArray::number(info.width) + "×" +
                 QByteArray::number(info.height);
        return false;
    }
    return known;
}

} // namespace tagora::cli
