// Where an audio file's tags lie, as far as a few header bytes already in memory tell, so
// that a scan can ask the kernel for them before the tag read needs them. Plain byte
// arithmetic on the formats' own headers; nothing here parses a tag.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <vector>

namespace tagora {

// Copies the `count` bytes at `offset` into `into` when they can be had without waiting for
// the disk; false otherwise, also when the file ends before them.
using CachedRead = std::function<bool(off_t offset, void* into, std::size_t count)>;

struct ByteRange
{
    off_t from;
    off_t to; // one past the last byte

    bool operator==(const ByteRange& other) const { return from == other.from && to == other.to; }
};

// The parts of a file of `size` bytes that its tag read will want beyond its first `head`
// and last `tail` bytes: a leading tag or header larger than the head (ID3v2, FLAC metadata
// blocks, an MP4 "moov" atom, an ASF header, Ogg header packets), an APE tag larger than the
// tail. Only bytes `read` gives are looked at, so the answer may be partial; never more than
// a few megabytes, never outside the file.
std::vector<ByteRange> tagBytesBeyond(const CachedRead& read, off_t size, off_t head, off_t tail);

} // namespace tagora
