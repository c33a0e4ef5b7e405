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

// Base64 decoded only as far as it is read: the checks need a picture's first few dozen
// bytes, and decoding a cover of some hundred kilobytes whole, byte by byte, took longer
// than TagLib's own parse of the file.
class Base64Prefix
{
public:
    Base64Prefix(const unsigned char* text, std::uint64_t length) : m_text(text), m_length(length)
    {}

    // True when the text decodes to at least `size` bytes (it ends at the first character
    // that is not of base64, padding included).
    bool has(std::uint64_t size)
    {
        while (m_bytes.size() < size && decodeNext()) {
        }
        return m_bytes.size() >= size;
    }
    const unsigned char* data() const { return m_bytes.data(); }

private:
    bool decodeNext()
    {
        while (m_read < m_length) {
            const int value = base64Value(m_text[m_read]);
            if (value < 0) {
                m_read = m_length;
                return false;
            }
            ++m_read;
            m_bits = m_bits << 6 | static_cast<std::uint32_t>(value);
            m_count += 6;
            if (m_count >= 8) {
                m_count -= 8;
                m_bytes.push_back(static_cast<unsigned char>(m_bits >> m_count));
                return true;
            }
        }
        return false;
    }

    const unsigned char* m_text;
    std::uint64_t m_length;
    std::uint64_t m_read = 0;
    std::uint32_t m_bits = 0;
    int m_count = 0;
    Bytes m_bytes;
};

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
    Base64Prefix picture(field + kPictureKeyLength, length - kPictureKeyLength);
    std::uint64_t pos = 4;
    for (int part = 0; part < 3; ++part) {
        if (!picture.has(pos + 4))
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
