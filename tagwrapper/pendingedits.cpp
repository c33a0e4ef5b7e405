#include "pendingedits.h"

#include "fileio.h"

#include <algorithm>
#include <cstring>

namespace tagwrapper {

namespace {

constexpr off_t kCopyChunk = 1 << 20;

} // namespace

PendingEdits::PendingEdits(int fd, off_t originalLength)
    : m_fd(fd), m_originalLength(originalLength), m_length(originalLength)
{
    if (originalLength > 0)
        m_pieces.push_back({0, originalLength, {}});
}

long PendingEdits::read(char* out, size_t count, off_t at) const
{
    size_t done = 0;
    off_t position = 0;
    for (const Piece& piece : m_pieces) {
        const off_t end = position + piece.length;
        if (done == count)
            break;
        if (end > at + off_t(done)) {
            const off_t inside = at + off_t(done) - position;
            const size_t part = size_t(std::min<off_t>(piece.length - inside, off_t(count - done)));
            if (piece.fromOriginal()) {
                size_t got = 0;
                if (!readAll(m_fd, out + done, part, piece.origin + inside, got) || got != part)
                    return -1;
            } else {
                std::memcpy(out + done, piece.bytes.data() + inside, part);
            }
            done += part;
        }
        position = end;
    }
    return long(done);
}

size_t PendingEdits::splitAt(off_t at)
{
    off_t position = 0;
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        if (position == at)
            return i;
        const Piece& piece = m_pieces[i];
        if (at < position + piece.length) {
            const off_t head = at - position;
            Piece tail{piece.fromOriginal() ? piece.origin + head : -1, piece.length - head,
                       piece.fromOriginal() ? std::string() : piece.bytes.substr(size_t(head))};
            m_pieces[i].length = head;
            if (!m_pieces[i].fromOriginal())
                m_pieces[i].bytes.resize(size_t(head));
            m_pieces.insert(m_pieces.begin() + long(i) + 1, std::move(tail));
            return i + 1;
        }
        position += piece.length;
    }
    return m_pieces.size();
}

void PendingEdits::replace(off_t at, off_t removed, const std::string& data)
{
    // A write past the end, as a file would take it, leaves zero bytes in between.
    if (at > m_length)
        replace(m_length, 0, std::string(size_t(at - m_length), '\0'));
    removed = std::clamp<off_t>(removed, 0, m_length - at);
    const size_t first = splitAt(at);
    const size_t last = splitAt(at + removed);
    m_pieces.erase(m_pieces.begin() + long(first), m_pieces.begin() + long(last));
    if (!data.empty())
        m_pieces.insert(m_pieces.begin() + long(first), Piece{-1, off_t(data.size()), data});
    m_length += off_t(data.size()) - removed;
}

void PendingEdits::truncate(off_t length)
{
    if (length < m_length)
        replace(length, m_length - length, {});
    else if (length > m_length)
        replace(m_length, 0, std::string(size_t(length - m_length), '\0'));
}

bool PendingEdits::keepsLayout() const
{
    if (m_length != m_originalLength)
        return false;
    off_t position = 0;
    for (const Piece& piece : m_pieces) {
        if (piece.fromOriginal() && piece.origin != position)
            return false;
        position += piece.length;
    }
    return true;
}

std::vector<PendingEdits::Region> PendingEdits::changedRegions() const
{
    std::vector<Region> regions;
    off_t position = 0;
    bool adjoining = false;
    for (const Piece& piece : m_pieces) {
        if (!piece.fromOriginal()) {
            if (adjoining)
                regions.back().bytes += piece.bytes;
            else
                regions.push_back({position, piece.bytes});
        }
        adjoining = !piece.fromOriginal();
        position += piece.length;
    }
    return regions;
}

bool PendingEdits::writeTo(int fd) const
{
    std::string buffer;
    off_t position = 0;
    for (const Piece& piece : m_pieces) {
        for (off_t done = 0; done < piece.length;) {
            const off_t part = std::min(piece.length - done, kCopyChunk);
            if (piece.fromOriginal()) {
                buffer.resize(size_t(part));
                size_t got = 0;
                if (!readAll(m_fd, buffer.data(), size_t(part), piece.origin + done, got) ||
                    got != size_t(part))
                    return false;
            } else {
                buffer.assign(piece.bytes, size_t(done), size_t(part));
            }
            if (!writeAll(fd, buffer.data(), size_t(part), position + done))
                return false;
            done += part;
        }
        position += piece.length;
    }
    return true;
}

} // namespace tagwrapper
