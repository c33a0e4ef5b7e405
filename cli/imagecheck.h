#pragma once

#include <QByteArray>

namespace tagora::cli {

// What an image's own header says about it.
struct ImageInfo
{
    QByteArray mimeType; // "image/jpeg" or "image/png"
    quint32 width = 0;
    quint32 height = 0;
};

// Reads a JPEG's or PNG's signature and header (the JPEG frame header, the PNG IHDR chunk).
// False, with a reason fit for a message, for anything else or a header that is cut short or
// declares no pixels.
bool inspectImage(const QByteArray& bytes, ImageInfo& info, QByteArray& reason);

} // namespace tagora::cli
