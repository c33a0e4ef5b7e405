# The file types Tagora edits, listed once: everything else reads them from here, C++ through
# the generated header "tagora/audiotypes.h" (target tagora_audiotypes), the fuzz runner through
# audio-types.txt and cli-audio-types.txt in the build folder.
#  - TAGORA_AUDIO_TYPES: the six the window lists; tagora-cli lists them too. The tests, the
#    fuzz targets and the bench go through each of them.
#  - TAGORA_CLI_AUDIO_TYPES: the other types TagLib reads, listed by tagora-cli only; each has a
#    fuzz target too.
set(TAGORA_AUDIO_TYPES mp3 ogg wma ape m4a flac)
set(TAGORA_CLI_AUDIO_TYPES opus oga spx wv mpc tta wav aif aiff m4b m4p mp4 3g2)

set(rows "")
foreach(type IN LISTS TAGORA_AUDIO_TYPES)
  string(APPEND rows "    {\"${type}\", AudioLister::Window},\n")
endforeach()
foreach(type IN LISTS TAGORA_CLI_AUDIO_TYPES)
  string(APPEND rows "    {\"${type}\", AudioLister::Cli},\n")
endforeach()
set(TAGORA_AUDIO_TYPE_ROWS "${rows}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/audiotypes.h.in
  ${CMAKE_BINARY_DIR}/generated/tagora/audiotypes.h @ONLY)
add_library(tagora_audiotypes INTERFACE)
target_include_directories(tagora_audiotypes INTERFACE ${CMAKE_BINARY_DIR}/generated)

file(WRITE ${CMAKE_BINARY_DIR}/audio-types.txt "${TAGORA_AUDIO_TYPES}")
file(WRITE ${CMAKE_BINARY_DIR}/cli-audio-types.txt "${TAGORA_CLI_AUDIO_TYPES}")
