// What a save changes, held in memory over the unchanged file instead of written into a copy.
// TagLib writes, inserts and removes through the stream as if it edited the file; afterwards
// the edits either leave every old byte where it was (the new tag fits the room the old one
// had), and only the changed regions need writing in place, or they move bytes and the new
// file is written out whole into a copy.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tagwrapper {

class PendingEdits
{
public:
    // A run of the new file: either `length` bytes of the original from `origin`, or `bytes`.
    struct Piece
    {
        off_t origin = -1;
        off_t length = 0;
        std::string bytes;
        bool fromOriginal() const { return origin >= 0; }
    };
    // Bytes of the new file that differ in place from the original's at `offset`.
    struct Region
    {
        off_t offset = 0;
        std::string bytes;
    };

    // Edits over a file of originalLength bytes read through fd (not owned).
    PendingEdits(int fd, off_t originalLength);

    off_t length() const { return m_length; }
    // Reads into out from the new file at `at`; the count read, or -1 on a read error.
    long read(char* out, size_t count, off_t at) const;
    // Puts data in place of `removed` bytes at `at` (writes, inserts, removals and growth).
    void replace(off_t at, off_t removed, const std::string& data);
    void truncate(off_t length);

    // Whether the new file has the original's length with every old byte still in place.
    bool keepsLayout() const;
    // The regions that differ, for a new file that keepsLayout().
    std::vector<Region> changedRegions() const;
    // Writes the whole new file into fd from its start; false unless every byte arrived.
    bool writeTo(int fd) const;

private:
    // Splits the piece holding `at`, so that a piece starts there; the index of that piece.
    size_t splitAt(off_t at);

    int m_fd;
    off_t m_originalLength;
    off_t m_length;
    std::vector<Piece> m_pieces;
};

} // namespace tagwrapper
