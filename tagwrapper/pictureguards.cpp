// The input guard of pictures inside Vorbis comments (see familyguards.h).
#include "familyguards.h"

#include <cctype>
#include <cstring>

namespace tagwrapper {
namespace {

const char kPictureKey[] = "METADATA_BLOCK_PICTURE=";
constexpr std::size_t kPictureKeyLength = sizeof kPictureKey - 1;

int base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    return c == '/' ? 63 : -1;
}

// Decodes base64 up to the first character that is not of it (padding included).
Bytes decodedBase64(const unsigned char* text, std::uint64_t length)
{
    Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(length / 4 * 3));
    std::uint32_t bits = 0;
    int count = 0;
    for (std::uint64_t i = 0; i < length; ++i) {
        const int value = base64Value(text[i]);
        if (value < 0)
            break;
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<unsigned char>(bits >> count));
        }
    }
    return bytes;
}

bool keyIsPicture(const unsigned char* field, std::uint64_t length)
{
    if (length < kPictureKeyLength)
        return false;
    for (std::size_t i = 0; i < kPictureKeyLength; ++i) {
        if (std::toupper(field[i]) != kPictureKey[i])
            return false;
    }
    return true;
}

} // namespace

// The picture structure's three lengths (MIME type, description, data), each added to its
// position in 32 bits by TagLib: one that wraps around makes it take garbage for a picture,
// which the next save would write in place of the field.
bool xiphPictureFieldPasses(const unsigned char* field, std::uint64_t length)
{
    if (!keyIsPicture(field, length))
        return true;
    const Bytes picture = decodedBase64(field + kPictureKeyLength, length - kPictureKeyLength);
    std::uint64_t pos = 4;
    for (int part = 0; part < 3; ++part) {
        if (picture.size() < pos + 4)
            return true; // TagLib discards the picture
        const std::uint64_t partLength = bigEndian32(picture.data() + pos);
        pos += 4;
        if (pos + partLength + 24 > 0xffffffffu)
            return false;
        pos += partLength + (part == 1 ? 16 : 0);
    }
    return true;
}

} // namespace tagwrapper
