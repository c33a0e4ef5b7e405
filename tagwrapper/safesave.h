// Saving without ever leaving a damaged file. TagLib 1.13 writes into the file in place through
// fwrite without looking at the result: a full disk or a file-size limit gives a torn file and
// a save reported as done, and a crash while a tag grows leaves half of it shifted. Here TagLib
// only ever writes into memory, through a stream that records its edits; a new tag that fits
// the old one's room is written over it in place behind a rollback record, and any other goes
// into a copy that is read back and flushed before it replaces the original in one rename.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <taglib/tiostream.h>

#include "filestamp.h"
#include "guardreader.h"
#include "pendingedits.h"

namespace tagwrapper {

using tagora::FileIdentity;

// TagLib's stream over a file descriptor. Outside a save it is read-only (TagLib refuses to
// write through it); during one it records the edits in memory (recordEdits()), or writes
// into a copy and records any write that did not go through whole. Positions and lengths behave as
// TagLib's own FileStream.
class DescriptorStream : public TagLib::IOStream
{
public:
    // Takes ownership of fd, a descriptor of a regular file of `size` bytes (-1: as the file
    // says), read through the stream only; name is what TagLib sees (it picks the file type
    // by extension).
    DescriptorStream(int fd, std::string name, off_t size = -1);
    ~DescriptorStream() override;
    DescriptorStream(const DescriptorStream&) = delete;
    DescriptorStream& operator=(const DescriptorStream&) = delete;

    // Opens path for reading; only a regular file (after links) gives a stream, and a FIFO
    // or device is never waited on. Null otherwise.
    // The file's identity is taken from the descriptor opened.
    static DescriptorStream* openFile(const char* path, FileIdentity& identity);

    TagLib::FileName name() const override;
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    void insert(const TagLib::ByteVector& data, unsigned long start = 0,
                unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override;
    bool isOpen() const override;
    void seek(long offset, Position p = Beginning) override;
    long tell() const override;
    long length() override;
    void truncate(long length) override;

    int descriptor() const { return m_fd; }
    // The file behind the stream as the input guards read it. Their reads fill the window
    // TagLib's small reads are served from, so the head of a file is read once for both.
    const Reader& reader() const { return m_reader; }
    // Puts another descriptor under the stream (writable or not) and hands back the one it
    // had, which the caller then owns. Clears the failure record.
    int exchange(int fd, bool writable);
    // True when a write, move or truncation since the last exchange() did not complete.
    bool failed() const { return m_failed; }
    // Makes the stream writable with every change kept in memory over the file, until
    // takeEdits() hands them over and makes it read-only again.
    void recordEdits();
    std::unique_ptr<PendingEdits> takeEdits();

private:
    bool moveRange(off_t from, off_t to, off_t count);
    // Replaces `removed` bytes at `at` with data in the recorded edits; the position ends
    // after data when the length stays, at the end otherwise, as with the file itself.
    void edit(off_t at, off_t removed, const TagLib::ByteVector& data);
    // Small reads of the file outside a save, served from a window read at once.
    bool readBuffered(char* out, unsigned long length);

    int m_fd;
    std::string m_name;
    long m_position = 0;
    bool m_writable = false;
    bool m_failed = false;
    // TagLib asks for the length before almost every read. Outside a save the descriptor is
    // read-only and a file changed behind it is caught by the identity check of the next
    // save; during one nobody else writes to the copy.
    long m_length = 0;
    // TagLib reads mostly a few bytes at a time (headers, frame by frame); outside a save
    // those reads come from the reader's window of the file.
    Reader m_reader;
    std::unique_ptr<PendingEdits> m_edits;
};

bool identityOf(int fd, FileIdentity& identity);

// The hidden name pattern of our copies: ".<name>.XXXXXX.tagora-tmp". The last extension is no
// audio type, so a folder listing never shows one as a file to edit.
bool isTemporaryCopyName(const char* name);

// Removes copies left in folder by a save that died: those no running save holds locked (a
// save locks its copy before the copy has a name). Never touches any other file.
void removeLeftoverCopies(const std::string& folder);

enum class SaveResult
{
    Saved,
    // Nothing was written and the file still matches what TagLib holds in memory.
    Refused,
    // TagLib wrote into a copy that was then thrown away: the original is untouched, but
    // the positions TagLib keeps in memory describe the copy.
    Failed
};

struct SaveSteps
{
    // TagLib's save, run while the stream points at the copy.
    std::function<bool()> write;
    // Reads the finished copy (a descriptor the callee must not close) back and says whether
    // it holds what was meant to be written.
    std::function<bool(int copyFd)> verify;
};

// Puts back every file a save killed while writing it in place left torn, from the backup
// that save kept under $XDG_STATE_HOME/tagora/backups, and removes backups no save holds any
// more. Runs when the library is loaded.
void restoreTornFiles();

// Saves the file behind stream, which was opened as `opened` (updated on success). TagLib's
// changes are first held in memory: when they leave every old byte where it was (the new tag
// fits the room of the old one), only the changed regions are written, in place, after their
// old bytes went to a rollback record under the state folder (restoreTornFiles() puts them
// back after a kill). Otherwise see the comment at the top for the steps; a file with several hard
// links, or whose owner a copy cannot be given, receives the verified bytes in place instead of
// being replaced, after its old bytes were kept in a backup under the state folder (put back when
// the write fails, or by restoreTornFiles() when the save dies during it). Without room for that
// backup the file is not written.
SaveResult saveSafely(DescriptorStream& stream, FileIdentity& opened, const SaveSteps& steps);

// Group commit for a run over many files (see taglib_batch_begin() for what it guarantees).
// While a batch is open, the save of a file of at most 16 MiB checks the new file at once and
// reports success, but the file changes only in commitBatch(). `ready` (may be empty) is
// called before any original file is touched, at once or by the commit, and must put on disk
// what has to be there first; when it gives false nothing is touched. False when a batch is
// open already.
bool beginBatch(std::function<bool()> ready);
bool batchOpen();
// How many saves the open batch holds (0 without one).
size_t heldSaves();
// Ends the open batch; one flag per held save, in the order they were made: whether its file
// now holds the saved bytes. A file changed by another program since it was opened is left.
std::vector<bool> commitBatch();

} // namespace tagwrapper
