#pragma once

#include "tags/audiotag.h"

#include <QString>

struct TagLib_File_s;

namespace tagora {

// The three moves of tag data between an audio file and an audiotag, through the tag
// library loaded by LoadTagLibrary(). They raise nothing, show nothing and keep nothing
// between calls; each opens the file through the library and releases it before it
// returns. Paths are absolute or relative to the current directory and reach the library
// as the file name's bytes. GUI thread only.
//
// When the library or an entry point an operation needs is missing, the operation makes
// no call at all: ReadTag gives the empty record and false, WriteTag NotOpened, RemoveTag
// false.

// Fills `tag` from the file. What cannot be read stays empty: a file that cannot be
// opened or is not a valid audio file gives the empty record; a file without a tag gives
// empty texts and its playing time. An unset track number or year reads as "0". True when the file
// opened as a valid audio file, so a caller can tell a file that failed to read from one whose tag
// is empty.
bool ReadTag(const QString& path, audiotag& tag);

// ReadTag, but Track and Year as the file stores them when that is a full form of their
// number ("3/12", "2001-05-17"), for a caller that shows values as stored and puts them back
// exactly (tagora-cli's listing and journal). The window shows the numbers.
bool ReadTagAsStored(const QString& path, audiotag& tag);

// ReadTagAsStored on a file the caller opened with taglib_file_newu (null: nothing to read)
// and still owns, for a caller that asks the same handle more (tagora-cli counts its pictures).
bool ReadTagOf(TagLib_File_s* file, audiotag& tag);

// Writes the texts of `tag` into the file (Length is ignored). Every field is written,
// an empty text as an empty string. Without a tag handle nothing is set, yet the file is
// still saved and the result is that save's.
WriteTagResult WriteTag(const QString& path, const audiotag& tag);
// WriteTag into a file the caller opened with taglib_file_newu and still owns (null: not
// opened), for a caller that has read the tag through the same handle.
WriteTagResult WriteTagOf(TagLib_File_s* file, const audiotag& tag);

// Strips the file's tag. True when the tag was removed and the file saved, and also when
// the library finds no tag to remove (nothing is left to strip, the file is not touched);
// false when the file could not be opened or the save failed.
bool RemoveTag(const QString& path);

// False when the library read the file's tag only in part, which is why it refuses to save
// fields into it; true otherwise, also when the file does not open or the library cannot tell.
bool TagReadInFull(const QString& path);

// The number written for a Track or Year text: optional leading spaces, an optional sign,
// then decimal digits or hexadecimal digits after "$", "x" or "0x" (x in either case), and
// nothing after the digits. A text that breaks this, does not fit a signed 32-bit integer,
// or is below 1 gives 0, which leaves the field unset.
unsigned int tagNumberFromText(const QString& text);

// The full forms that are values rather than numbers: a Track "n/total" (decimal, each at
// least 1) and a Year "YYYY-MM-DD" or "YYYY-MM" (a month 01-12, a day 01-31), after optional
// leading spaces. The text as stored (without those spaces), or empty for any other text,
// which follows the number rule.
QString fullTrackText(const QString& text);
QString fullDateText(const QString& text);

} // namespace tagora
