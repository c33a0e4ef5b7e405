# Builds the program's version block: the layout of a Windows VS_VERSIONINFO resource
# (fixed file info, \StringFileInfo\<lang><codepage>\..., \VarFileInfo\Translation),
# emitted as constant data in a section of its own, ".tagora_version", so the version can
# be read back from the executable file without loading it.
#
# tagora_embed_version_block(<target> [VERSION <a.b.c.d>])
#   VERSION defaults to the project version.

include_guard(GLOBAL)

# Little-endian 16-bit word as hex digits.
function(_tvb_word value out)
  math(EXPR lo "${value} & 255" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR hi "(${value} >> 8) & 255" OUTPUT_FORMAT HEXADECIMAL)
  set(result "")
  foreach(b IN ITEMS ${lo} ${hi})
    string(SUBSTRING "${b}" 2 -1 b)
    string(LENGTH "${b}" n)
    if(n EQUAL 1)
      set(b "0${b}")
    endif()
    string(APPEND result "${b}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(_tvb_dword value out)
  math(EXPR lo "${value} & 65535")
  math(EXPR hi "(${value} >> 16) & 65535")
  _tvb_word(${lo} a)
  _tvb_word(${hi} b)
  set(${out} "${a}${b}" PARENT_SCOPE)
endfunction()

# A text as UTF-16LE with its terminating null (the texts here are ASCII).
function(_tvb_utf16z text out)
  if(text STREQUAL "")
    set(${out} "0000" PARENT_SCOPE)
    return()
  endif()
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} "${hex}0000" PARENT_SCOPE)
endfunction()

# Pads hex data with zero bytes to a multiple of four bytes.
function(_tvb_pad hex out)
  string(LENGTH "${hex}" n)
  math(EXPR rest "(${n} / 2) % 4")
  if(NOT rest EQUAL 0)
    math(EXPR count "4 - ${rest}")
    foreach(i RANGE 1 ${count})
      string(APPEND hex "00")
    endforeach()
  endif()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# One node: wLength, wValueLength, wType, key, padding, value, then each child aligned.
# value_length is what wValueLength holds (characters for texts, bytes for binary data).
function(_tvb_node key type value_hex value_length children out)
  _tvb_utf16z("${key}" key_hex)
  _tvb_pad("000000000000${key_hex}" body)
  string(APPEND body "${value_hex}")
  foreach(child IN LISTS children)
    _tvb_pad("${body}" body)
    string(APPEND body "${child}")
  endforeach()
  string(LENGTH "${body}" n)
  math(EXPR length "${n} / 2")
  _tvb_word(${length} length_hex)
  _tvb_word(${value_length} value_length_hex)
  _tvb_word(${type} type_hex)
  string(SUBSTRING "${body}" 12 -1 rest)
  set(${out} "${length_hex}${value_length_hex}${type_hex}${rest}" PARENT_SCOPE)
endfunction()

function(_tvb_string key text out)
  _tvb_utf16z("${text}" value)
  string(LENGTH "${text}" n)
  math(EXPR chars "${n} + 1")
  _tvb_node("${key}" 1 "${value}" ${chars} "" node)
  set(${out} "${node}" PARENT_SCOPE)
endfunction()

function(tagora_version_block_hex version out)
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(GET parts 0 v1)
  list(GET parts 1 v2)
  list(GET parts 2 v3)
  list(GET parts 3 v4)
  set(text "${v1}.${v2}.${v3}.${v4}")

  # US English, Windows Latin-1: the string table is then named 040904E4.
  set(language 1033)
  set(codepage 1252)

  # VS_FIXEDFILEINFO: signature, structure version, file and product version, flags
  # mask, flags, OS (unknown), type (application), subtype, date.
  set(fixed "")
  foreach(value IN ITEMS 0xFEEF04BD 0x00010000
                          "(${v1} << 16) | ${v2}" "(${v3} << 16) | ${v4}"
                          "(${v1} << 16) | ${v2}" "(${v3} << 16) | ${v4}"
                          0x3F 0 0 1 0 0 0)
    math(EXPR value "${value}")
    _tvb_dword(${value} d)
    string(APPEND fixed "${d}")
  endforeach()

  set(strings "")
  foreach(pair IN ITEMS
      "CompanyName=Corvane"
      "FileDescription=Corvane Tagora"
      "FileVersion=${text}"
      "InternalName=tagora"
      "LegalCopyright=Copyright (C) Corvane"
      "OriginalFilename=tagora"
      "ProductName=Corvane Tagora"
      "ProductVersion=${text}")
    string(FIND "${pair}" "=" at)
    string(SUBSTRING "${pair}" 0 ${at} key)
    math(EXPR at "${at} + 1")
    string(SUBSTRING "${pair}" ${at} -1 value)
    _tvb_string("${key}" "${value}" node)
    list(APPEND strings "${node}")
  endforeach()

  math(EXPR table_name_value "(${language} << 16) | ${codepage}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${table_name_value}" 2 -1 table_name)
  string(TOUPPER "${table_name}" table_name)
  string(LENGTH "${table_name}" n)
  while(n LESS 8)
    set(table_name "0${table_name}")
    string(LENGTH "${table_name}" n)
  endwhile()

  _tvb_node("${table_name}" 1 "" 0 "${strings}" table)
  _tvb_node("StringFileInfo" 1 "" 0 "${table}" string_file_info)
  _tvb_word(${language} lang_hex)
  _tvb_word(${codepage} cp_hex)
  _tvb_node("Translation" 0 "${lang_hex}${cp_hex}" 4 "" translation)
  _tvb_node("VarFileInfo" 1 "" 0 "${translation}" var_file_info)
  _tvb_node("VS_VERSION_INFO" 0 "${fixed}" 52 "${string_file_info};${var_file_info}" root)
  set(${out} "${root}" PARENT_SCOPE)
endfunction()

function(tagora_embed_version_block target)
  cmake_parse_arguments(V "" "VERSION" "" ${ARGN})
  if(NOT V_VERSION)
    set(V_VERSION "${PROJECT_VERSION}")
  endif()
  tagora_version_block_hex("${V_VERSION}" hex)
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){12})" "\\1\n  " bytes "${bytes}")
  set(file "${CMAKE_CURRENT_BINARY_DIR}/${target}_version_block.cpp")
  file(CONFIGURE OUTPUT "${file}" @ONLY CONTENT
"// Generated by cmake/TagoraVersionBlock.cmake for version @V_VERSION@; do not edit.
extern const unsigned char tagora_version_block[];
__attribute__((section(\".tagora_version\"), used, aligned(4)))
const unsigned char tagora_version_block[] = {
  @bytes@
};
")
  target_sources(${target} PRIVATE "${file}")
endfunction()
