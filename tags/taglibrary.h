#pragma once

#include "tagwrapper/tagwrapper.h" // the entry points' types only; the library is loaded at run time

#include <QString>
#include <QtGlobal>

namespace tagora {

// Entry points whose prototypes the wrapper's header gives us; the first 30 are the ones the
// tag operations call.
#define TAGORA_TYPED_ENTRY_POINTS(X)                                                               \
    X(taglib_set_strings_unicode)                                                                  \
    X(taglib_file_newu)                                                                            \
    X(taglib_file_is_valid)                                                                        \
    X(taglib_file_tag)                                                                             \
    X(taglib_tag_title)                                                                            \
    X(taglib_tag_artist)                                                                           \
    X(taglib_tag_album)                                                                            \
    X(taglib_tag_genre)                                                                            \
    X(taglib_tag_comment)                                                                          \
    X(taglib_tag_track)                                                                            \
    X(taglib_tag_year)                                                                             \
    X(taglib_tag_get_byname)                                                                       \
    X(taglib_tag_get_bpm)                                                                          \
    X(taglib_tag_get_key)                                                                          \
    X(taglib_file_audioproperties)                                                                 \
    X(taglib_audioproperties_length)                                                               \
    X(taglib_tag_free_strings)                                                                     \
    X(taglib_file_free)                                                                            \
    X(taglib_tag_set_title)                                                                        \
    X(taglib_tag_set_artist)                                                                       \
    X(taglib_tag_set_album)                                                                        \
    X(taglib_tag_set_genre)                                                                        \
    X(taglib_tag_set_comment)                                                                      \
    X(taglib_tag_set_track)                                                                        \
    X(taglib_tag_set_year)                                                                         \
    X(taglib_tag_set_byname)                                                                       \
    X(taglib_tag_set_key)                                                                          \
    X(taglib_tag_set_bpm)                                                                          \
    X(taglib_tag_remove)                                                                           \
    X(taglib_file_save_ex)                                                                         \
    X(taglib_audioproperties_bitrate)                                                              \
    X(taglib_audioproperties_channels)                                                             \
    X(taglib_audioproperties_samplerate)                                                           \
    X(taglib_file_new)                                                                             \
    X(taglib_file_new_type)                                                                        \
    X(taglib_file_save)                                                                            \
    X(taglib_id3v2_set_default_text_encoding)                                                      \
    X(taglib_set_string_management_enabled)                                                        \
    X(taglib_file_read_in_full)

// Looked up for completeness but never called by the window; a library may lack them. Only
// tagora-cli calls the cover, property and batch ones.
#define TAGORA_UNTYPED_ENTRY_POINTS(X)                                                             \
    X(taglib_tag_get_cover)                                                                        \
    X(taglib_tag_get_cover_data)                                                                   \
    X(taglib_tag_get_cover_count)                                                                  \
    X(taglib_tag_set_cover)                                                                        \
    X(taglib_tag_add_cover)                                                                        \
    X(taglib_tag_remove_cover)                                                                     \
    X(taglib_tag_get_rating)                                                                       \
    X(taglib_tag_copy)                                                                             \
    X(taglib_property_count)                                                                       \
    X(taglib_property_value)                                                                       \
    X(taglib_property_set)                                                                         \
    X(taglib_property_name_count)                                                                  \
    X(taglib_property_name)                                                                        \
    X(taglib_file_tag_types)                                                                       \
    X(taglib_file_codec)                                                                           \
    X(taglib_audioproperties_length_ms)                                                            \
    X(taglib_file_id3v2_version)                                                                   \
    X(taglib_file_id3v2_lost_frames)                                                               \
    X(taglib_file_set_id3v2_version)                                                               \
    X(taglib_batch_begin)                                                                          \
    X(taglib_batch_held)                                                                           \
    X(taglib_batch_commit)

// One slot per looked-up name, null when the library is not loaded or lacks the name.
struct TagLibraryEntryPoints
{
#define TAGORA_TYPED_SLOT(name) decltype(&::name) name = nullptr;
#define TAGORA_UNTYPED_SLOT(name) QFunctionPointer name = nullptr;
    TAGORA_TYPED_ENTRY_POINTS(TAGORA_TYPED_SLOT)
    TAGORA_UNTYPED_ENTRY_POINTS(TAGORA_UNTYPED_SLOT)
#undef TAGORA_TYPED_SLOT
#undef TAGORA_UNTYPED_SLOT
};

// Loads libtagwrapper.so: from the program's own folder first, then by bare name through
// the system's search. When the environment variable TAGORA_TAGWRAPPER names a file, that
// file is loaded instead (tests use it to put a recording double in the library's place).
// Failure is silent: the slots stay empty and TagLibraryLoaded() stays false. A library
// loaded before is unloaded first. GUI thread only, like every call into the library.
void LoadTagLibrary();

// Loads the given library file in place of libtagwrapper.so; true when it loaded.
bool LoadTagLibraryFrom(const QString& fileName);

// Releases the library and empties every slot, so no stale entry point can be called.
void UnloadTagLibrary();

// True from a successful load until the unload.
bool TagLibraryLoaded();

// The slots of the loaded library (all null when none is loaded).
const TagLibraryEntryPoints& tagLibrary();

} // namespace tagora
