/*
 * libtagwrapper: a plain C interface to the audio tag library TagLib.
 *
 * Handles are opaque. A TagLib_File is owned by the caller from taglib_file_newu()
 * (or taglib_file_new*) until taglib_file_free(); its tag and audio-properties
 * handles belong to the file and end with it. Never free those two yourself.
 *
 * Texts: paths are the file name's bytes as the platform spells them (on Linux,
 * whatever bytes the directory holds). Field texts are UTF-8 both ways from the
 * start; taglib_set_strings_unicode(0) switches to Latin-1. Every text a
 * function returns is owned by the library and stays valid until the next
 * taglib_tag_free_strings(); callers copy it and never free it. NULL is returned
 * where there is nothing to return.
 *
 * Threads: TagLib keeps process-wide state that is not thread-safe. Call the
 * library from one thread only.
 *
 * No C++ exception ever leaves a function of this interface; failures are reported
 * as NULL, 0 or an empty answer.
 */
#ifndef TAGWRAPPER_H
#define TAGWRAPPER_H

#if defined(TAGWRAPPER_BUILDING)
#define TAGWRAPPER_EXPORT __attribute__((visibility("default")))
#else
#define TAGWRAPPER_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TagLib_File_s TagLib_File;
typedef struct TagLib_Tag_s TagLib_Tag;
typedef struct TagLib_AudioProperties_s TagLib_AudioProperties;

/* Same values as TagLib's own C binding. */
typedef enum
{
    TagLib_File_MPEG,
    TagLib_File_OggVorbis,
    TagLib_File_FLAC,
    TagLib_File_MPC,
    TagLib_File_OggFlac,
    TagLib_File_WavPack,
    TagLib_File_Speex,
    TagLib_File_TrueAudio,
    TagLib_File_MP4,
    TagLib_File_ASF
} TagLib_File_Type;

typedef enum
{
    TagLib_ID3v2_Latin1,
    TagLib_ID3v2_UTF16,
    TagLib_ID3v2_UTF16BE,
    TagLib_ID3v2_UTF8
} TagLib_ID3v2_Encoding;

/* Library-wide settings. */
TAGWRAPPER_EXPORT void taglib_set_strings_unicode(int unicode);
/* With management off (it is on by default), returned texts are not kept for
 * taglib_tag_free_strings(); the caller releases each one with free(). */
TAGWRAPPER_EXPORT void taglib_set_string_management_enabled(int management);
/* Encoding of ID3v2 text frames written from now on; UTF-8 unless set otherwise. */
TAGWRAPPER_EXPORT void taglib_id3v2_set_default_text_encoding(TagLib_ID3v2_Encoding encoding);
/* Releases every text returned so far. */
TAGWRAPPER_EXPORT void taglib_tag_free_strings(void);

/* Files. taglib_file_newu returns NULL when the path is not a readable regular file of a
 * known audio type (by extension, else by content). taglib_file_free(NULL) does nothing. */
TAGWRAPPER_EXPORT TagLib_File* taglib_file_newu(const char* path);
TAGWRAPPER_EXPORT TagLib_File* taglib_file_new(const char* path);
TAGWRAPPER_EXPORT TagLib_File* taglib_file_new_type(const char* path, TagLib_File_Type type);
TAGWRAPPER_EXPORT void taglib_file_free(TagLib_File* file);
TAGWRAPPER_EXPORT int taglib_file_is_valid(const TagLib_File* file);
TAGWRAPPER_EXPORT TagLib_Tag* taglib_file_tag(const TagLib_File* file);
TAGWRAPPER_EXPORT const TagLib_AudioProperties*
taglib_file_audioproperties(const TagLib_File* file);
/* Writes pending changes. Returns non-zero on success, 0 when nothing was written: the file
 * has no write permission in its mode bits (even for root) or the caller may not write it,
 * it changed since taglib_file_newu() (other inode, size or modification time), or any step
 * of the save failed. On 0 the file is byte for byte what it was.
 * The save goes into a hidden copy in the file's folder (".<name>.XXXXXX.tagora-tmp"), every
 * write checked; the copy is read back and compared with the values set, flushed to disk,
 * given the file's owner, mode and extended attributes, and renamed over the file. A
 * symbolic link keeps pointing at its target, which is what is saved. A file with several
 * hard links, or one the copy cannot take the owner or attributes of, or one in a folder the
 * caller may not write to (the copy is then made in $TMPDIR), gets the verified bytes written
 * into it in place. Copies left by a save that died are removed by a later save in their
 * folder. After a 0 that came from a failed write, the handle saves nothing any more; open
 * the file again to retry.
 * For MPEG files, options 3 (and 0) keep every tag the file has, each in its own form: the
 * ID3v2 tag keeps its version (2.2, which TagLib cannot write, becomes 2.4) and every frame
 * not edited byte for byte, an ID3v1 or APE tag stays and takes the edited fields it holds;
 * no tag type is added, but a file without ID3v2 gets a 2.4 tag (new frames in UTF-8). Any
 * other value is a mask of the tag types the file keeps, the rest stripped: 1 = ID3v1,
 * 2 = ID3v2 (saved as ID3v2.4), 4 = APE. Other types ignore it. After taglib_tag_remove()
 * the save strips instead.
 * When nothing was set to a value other than the file's, the save writes nothing, leaves the
 * modification time alone and returns non-zero. A file whose tag was read only in part (a
 * Vorbis comment TagLib stops reading early, say) is never saved and gives 0; ID3v2 frames
 * TagLib cannot read are kept as stored instead, and those after them read on their own.
 * Tag removal still works on such a file. */
TAGWRAPPER_EXPORT int taglib_file_save_ex(TagLib_File* file, int options);
/* 0 when the file's tags were read only in part (the case in which taglib_file_save_ex()
 * refuses a save that sets fields), non-zero otherwise. 0 for NULL. */
TAGWRAPPER_EXPORT int taglib_file_read_in_full(const TagLib_File* file);
/* Like taglib_file_save_ex(), keeping every MPEG tag type the file already has. */
TAGWRAPPER_EXPORT int taglib_file_save(TagLib_File* file);

/* Group commit, for a program that saves many files in one run. Between taglib_batch_begin()
 * and taglib_batch_commit(), the save of a file of at most 16 MiB writes the new file (into
 * memory, or into a hidden copy beside it) and reads it back at once, and returns non-zero,
 * but the file changes only in the commit, if it is still the one opened. Files written in
 * place (those whose new tag fits the old one's room, and those of at most 1 MiB) have their
 * old bytes kept in one rollback record for the batch, flushed once; then they are written
 * and flushed once per file system, and the record dropped. Copies are flushed together,
 * renamed over their files, and each folder flushed once. Other saves run at once. Save each
 * file once per batch; until the commit a handle that was saved reads the file as it was.
 * `ready` (NULL for none) is called with `context` before any file is touched, at once or by
 * the commit; it puts on disk what must be there first (a journal of the batch) and returns
 * non-zero, or 0 to have nothing touched. A kill leaves files that the next load of this
 * library puts back to their old bytes, and copies that the next save or tagora-cli walk in
 * their folder removes: every file is whole, old or new. taglib_batch_begin() returns 0 when
 * a batch is open already. */
typedef int (*TagLib_Batch_Ready)(void* context);
TAGWRAPPER_EXPORT int taglib_batch_begin(TagLib_Batch_Ready ready, void* context);
/* How many saves the open batch holds; 0 without one. */
TAGWRAPPER_EXPORT int taglib_batch_held(void);
/* Ends the open batch. For the first `count` held saves, in the order they were made, writes
 * into placed[i] 1 when the file now holds the saved bytes, 0 when it was left as it was.
 * Returns the number of held saves, -1 when no batch was open. */
TAGWRAPPER_EXPORT int taglib_batch_commit(int* placed, int count);

/* The common fields, through the file's tag handle.
 * Several values of one item (two artists, say) read as one text joined by "; ", in every
 * format. A setter given the text (or number) the item reads as now leaves the item exactly
 * as stored: its bytes, encoding, several values, a full date ("2019-05-17" reads as 2019) and
 * a track total ("3/12" reads as 3). A changed Artist or Genre is split at "; " and stored as
 * several values in the format's own way (a text with an empty part stays one value); every
 * other changed text is one value, as given. A new track number keeps the total ("3/12" set
 * to 4 gives "4/12").
 * The comment is one item: in MPEG files the ID3v2 COMM frame without a description (those
 * with one, such as iTunes' iTunNORM, are neither shown nor touched), in Vorbis comments the
 * COMMENT field (a DESCRIPTION field is another item; it goes with a changed comment only when
 * it held the same text). */
TAGWRAPPER_EXPORT char* taglib_tag_title(const TagLib_Tag* tag);
TAGWRAPPER_EXPORT char* taglib_tag_artist(const TagLib_Tag* tag);
TAGWRAPPER_EXPORT char* taglib_tag_album(const TagLib_Tag* tag);
TAGWRAPPER_EXPORT char* taglib_tag_comment(const TagLib_Tag* tag);
TAGWRAPPER_EXPORT char* taglib_tag_genre(const TagLib_Tag* tag);
TAGWRAPPER_EXPORT unsigned int taglib_tag_year(const TagLib_Tag* tag);
TAGWRAPPER_EXPORT unsigned int taglib_tag_track(const TagLib_Tag* tag);
TAGWRAPPER_EXPORT void taglib_tag_set_title(TagLib_Tag* tag, const char* title);
TAGWRAPPER_EXPORT void taglib_tag_set_artist(TagLib_Tag* tag, const char* artist);
TAGWRAPPER_EXPORT void taglib_tag_set_album(TagLib_Tag* tag, const char* album);
TAGWRAPPER_EXPORT void taglib_tag_set_comment(TagLib_Tag* tag, const char* comment);
TAGWRAPPER_EXPORT void taglib_tag_set_genre(TagLib_Tag* tag, const char* genre);
/* 0 clears the field. */
TAGWRAPPER_EXPORT void taglib_tag_set_year(TagLib_Tag* tag, unsigned int year);
TAGWRAPPER_EXPORT void taglib_tag_set_track(TagLib_Tag* tag, unsigned int track);

/* Fields addressed through the file: a named property ("COPYRIGHT"), BPM and musical key,
 * each a text in the format's own item. An empty text removes the item.
 *   MPEG (ID3v2): TCOP, TBPM, TKEY.   Ogg Vorbis, FLAC: COPYRIGHT, BPM, INITIALKEY.
 *   MP4: cprt, tmpo (a BPM that is not a plain number 0..32767 goes to the free-form
 *   ----:com.apple.iTunes:BPM instead), ----:com.apple.iTunes:initialkey.
 *   ASF: Copyright (content description), WM/BeatsPerMinute, WM/InitialKey.
 *   APE: Copyright, BPM, INITIALKEY.
 * "TRACKNUMBER" and "DATE" are the track and date in full, as stored ("3/12", "2019-05-17"):
 * set one to store a track total or a full date in the format's own items (ID3v2 TRCK and
 * TDRC, or TYER and TDAT in a 2.3 tag; Vorbis TRACKNUMBER, with TRACKTOTAL where the file keeps
 * the total there, and DATE; MP4 trkn and its date atom; ASF WM/TrackNumber and WM/Year; APE Track
 * and Year). Other names go through TagLib's property map. NULL when the item is absent. */
TAGWRAPPER_EXPORT char* taglib_tag_get_byname(TagLib_File* file, const char* name);
TAGWRAPPER_EXPORT void taglib_tag_set_byname(TagLib_File* file, const char* name,
                                             const char* value);
TAGWRAPPER_EXPORT char* taglib_tag_get_bpm(TagLib_File* file);
TAGWRAPPER_EXPORT void taglib_tag_set_bpm(TagLib_File* file, const char* bpm);
TAGWRAPPER_EXPORT char* taglib_tag_get_key(TagLib_File* file);
TAGWRAPPER_EXPORT void taglib_tag_set_key(TagLib_File* file, const char* key);

/* Any property by the name TagLib's property interface gives it, case ignored: ALBUMARTIST,
 * DISCNUMBER, COMPOSER, LYRICS, TITLESORT, REPLAYGAIN_TRACK_GAIN, MUSICBRAINZ_ALBUMID, ... Each
 * format keeps a known name in its standard item (ALBUMARTIST: ID3v2 TPE2, MP4 aART, ASF
 * WM/AlbumArtist, APE "Album Artist", Vorbis ALBUMARTIST) and any other name in its free-form
 * item (ID3v2 TXXX, a Vorbis field, an MP4 ----:com.apple.iTunes atom, an APE item, an ASF
 * attribute). In MPEG files the properties are the ID3v2 tag's. A property holds several
 * values where the format allows. Names are printable ASCII without "="; NULL, empty or
 * other names read as absent and set nothing.
 * The number of values the property holds; 0 when it is absent. */
TAGWRAPPER_EXPORT int taglib_property_count(TagLib_File* file, const char* name);
/* Value `index` (from 0) of the property, a text owned like the fields' (valid until
 * taglib_tag_free_strings()); NULL past the last value. */
TAGWRAPPER_EXPORT char* taglib_property_value(TagLib_File* file, const char* name, int index);
/* Stores the `count` texts at `values` as the property's values (0 removes it); the caller
 * keeps ownership of them. Every other item keeps its bytes, and values equal to those stored
 * change nothing. Returns non-zero when the file holds the values as given; 0, changing
 * nothing, for a name the format cannot store or that is no property name. */
TAGWRAPPER_EXPORT int taglib_property_set(TagLib_File* file, const char* name,
                                          const char* const* values, int count);
/* The names of the properties the file holds, in TagLib's order: how many, and each by index
 * (a text owned like the fields'; NULL past the last). */
TAGWRAPPER_EXPORT int taglib_property_name_count(TagLib_File* file);
TAGWRAPPER_EXPORT char* taglib_property_name(TagLib_File* file, int index);

/* What the file is, as texts owned like the fields': the tag types it holds, in the order
 * TagLib prefers them, an ID3v2 tag with its version ("ID3v2.3, APE, ID3v1", "Xiph comment",
 * "MP4", "ASF"; empty for none), and the audio's codec ("MPEG-1 Layer 3", "Vorbis", "FLAC",
 * "AAC", "ALAC", "WMA 2", "Monkey's Audio", ...). NULL for an invalid file. */
TAGWRAPPER_EXPORT char* taglib_file_tag_types(TagLib_File* file);
TAGWRAPPER_EXPORT char* taglib_file_codec(TagLib_File* file);

/* The version of the MPEG file's ID3v2 tag (2, 3 or 4); 0 for a file without one or of another
 * type. */
TAGWRAPPER_EXPORT int taglib_file_id3v2_version(TagLib_File* file);
/* The IDs of the frames of the file's ID3v2 tag that `version` (3 or 4) cannot hold, each
 * once, joined by ", " ("TSOT, TDRL"); a text owned like the fields', empty when there are
 * none. A 2.3 tag's TDAT and TIME are not among them: 2.4 keeps them in its date frame. */
TAGWRAPPER_EXPORT char* taglib_file_id3v2_lost_frames(TagLib_File* file, int version);
/* Has the next save write the MPEG file's ID3v2 tag in `version` (3 or 4), carrying over every
 * frame it can hold (a full date as TYER, TDAT and TIME in 2.3, as TDRC in 2.4) and dropping
 * those taglib_file_id3v2_lost_frames() names. Returns non-zero when taken; 0 for another
 * version, another type of file or one without an ID3v2 tag. */
TAGWRAPPER_EXPORT int taglib_file_set_id3v2_version(TagLib_File* file, int version);

/* Marks every tag of the file for removal; the next save strips them (ID3v1, ID3v2, APE,
 * Vorbis comment fields and pictures, MP4 items, ASF attributes) and leaves the audio as
 * it is. */
TAGWRAPPER_EXPORT void taglib_tag_remove(TagLib_File* file);

/* Embedded pictures (cover art), in each format's own picture item:
 *   MPEG (and TrueAudio, WAV, AIFF): ID3v2 APIC frames.   FLAC: picture blocks.
 *   Ogg: METADATA_BLOCK_PICTURE comments.
 *   MP4: covr images, which hold no type or description: each reads as a front cover (3) with
 *   an empty description, and only such a picture can be set. JPEG, PNG, GIF and BMP keep
 *   their MIME type; an image stored without one reads as its signature gives it (else
 *   application/octet-stream), and only that MIME type sets such an image.
 *   ASF: WM/Picture attributes.   APE, WavPack, Musepack: the APE tag's binary items
 *   "Cover Art (Front)" and the like, one per type; the MIME type is not stored and reads as
 *   the image's signature gives it (image/jpeg, image/png, ..., else application/octet-stream).
 * Pictures are numbered from 0 in the order the file keeps them; a set or remove renumbers
 * them. Types are ID3v2's: 0 other, 1 32x32 PNG file icon, 2 other file icon, 3 front cover,
 * 4 back cover, 5 leaflet page, 6 media, 7 lead artist, 8 artist, 9 conductor, 10 band,
 * 11 composer, 12 lyricist, 13 recording location, 14 during recording, 15 during
 * performance, 16 movie screen capture, 17 bright coloured fish, 18 illustration, 19 band
 * logo, 20 publisher logo. MIME types and descriptions are texts like the fields' (UTF-8
 * unless taglib_set_strings_unicode(0)); picture bytes are returned as stored, in a block
 * owned like the returned texts: valid until taglib_tag_free_strings() (released with free()
 * when string management is off). Changes are written by the next save, which reads every
 * picture back and fails unless all read back byte for byte. Other file types have none. */
/* The number of pictures; 0 for none or an invalid file. */
TAGWRAPPER_EXPORT int taglib_tag_get_cover_count(TagLib_File* file);
/* The type, MIME type and description of picture `index`, each into its pointer unless that
 * is NULL. Returns non-zero when the picture exists; the outputs are left alone otherwise. */
TAGWRAPPER_EXPORT int taglib_tag_get_cover(TagLib_File* file, int index, int* type, char** mime,
                                           char** description);
/* The bytes of picture `index` as stored, their count into *size (which must not be NULL).
 * NULL when there is no such picture. */
TAGWRAPPER_EXPORT char* taglib_tag_get_cover_data(TagLib_File* file, int index, unsigned int* size);
/* Stores a copy of `size` bytes at `data` as a picture, in place of the first one of the same
 * type and description (the others stay as they are), or after the others. `mime` is printable
 * ASCII with a "/" ("image/jpeg"), `description` may be empty, `type` is 0..20, size at most
 * 64 MiB. Returns non-zero when it was taken; 0, changing nothing, for arguments outside
 * those bounds or a picture the format cannot hold as given (see above; a FLAC picture block
 * holds at most 16 MiB). */
TAGWRAPPER_EXPORT int taglib_tag_set_cover(TagLib_File* file, int type, const char* mime,
                                           const char* description, const char* data,
                                           unsigned int size);
/* Like taglib_tag_set_cover(), but the picture goes after the others and replaces none (APE
 * excepted: its item of the same type is replaced, as there is one per type). */
TAGWRAPPER_EXPORT int taglib_tag_add_cover(TagLib_File* file, int type, const char* mime,
                                           const char* description, const char* data,
                                           unsigned int size);
/* Removes picture `index`, or every picture when `index` is -1. Returns non-zero when there
 * was one to remove. */
TAGWRAPPER_EXPORT int taglib_tag_remove_cover(TagLib_File* file, int index);

/* Audio properties; 0 when unknown or properties is NULL. */
TAGWRAPPER_EXPORT int taglib_audioproperties_length(const TagLib_AudioProperties* properties);
TAGWRAPPER_EXPORT int taglib_audioproperties_bitrate(const TagLib_AudioProperties* properties);
TAGWRAPPER_EXPORT int taglib_audioproperties_samplerate(const TagLib_AudioProperties* properties);
TAGWRAPPER_EXPORT int taglib_audioproperties_channels(const TagLib_AudioProperties* properties);
/* The playing time in milliseconds, as exact as the format tells it. */
TAGWRAPPER_EXPORT int taglib_audioproperties_length_ms(const TagLib_AudioProperties* properties);

#ifdef __cplusplus
}
#endif

#endif /* TAGWRAPPER_H */
