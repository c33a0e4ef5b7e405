# The six file types the program edits, for everything that goes through each of them: the
# tests, the fuzz targets (and run-fuzzers.sh, through audio-types.txt in the build folder)
# and the bench.
set(TAGORA_AUDIO_TYPES mp3 ogg wma ape m4a flac)

# tagora_audio_types_for(<target> <PUBLIC|PRIVATE|INTERFACE>): TAGORA_AUDIO_TYPES for C++,
# "mp3","ogg",..., the initialiser of an array of C strings.
function(tagora_audio_types_for target scope)
  list(JOIN TAGORA_AUDIO_TYPES "\",\"" joined)
  target_compile_definitions(${target} ${scope} TAGORA_AUDIO_TYPES="${joined}")
endfunction()

file(WRITE ${CMAKE_BINARY_DIR}/audio-types.txt "${TAGORA_AUDIO_TYPES}")
