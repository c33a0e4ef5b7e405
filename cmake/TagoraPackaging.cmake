# The user's manual beside the program, desktop integration, install rules and the Debian
# package.
#
# Installed layout (prefix /usr for the package, /usr/local by default):
#   <prefix>/lib/tagora/tagora              the program
#   <prefix>/lib/tagora/libtagwrapper.so    loaded by the program from its own folder
#   <prefix>/lib/tagora/tagora.html         the manual, opened from the program's folder
#   <prefix>/lib/tagora/tagora-help/        the manual's pictures
#   <prefix>/bin/tagora                     -> ../lib/tagora/tagora
#   <prefix>/lib/tagora/tagora-cli          the command-line companion (install rules in cli/)
#   <prefix>/bin/tagora-cli                 -> ../lib/tagora/tagora-cli
#   <prefix>/share/man/man1/tagora-cli.1, <prefix>/share/bash-completion/completions/tagora-cli
#   <prefix>/share/applications/tagora.desktop
#   <prefix>/share/icons/hicolor/<size>/apps/tagora.{png,svg}
#   <prefix>/share/metainfo/tagora.metainfo.xml   what software centres show of the program
#   <prefix>/share/man/man1/tagora.1
# The program finds its folder through /proc/self/exe, which resolves the link in bin/, so the
# library and the manual are found the same way in the build tree and in every install.

set(TAGORA_INSTALL_PROGRAM_DIR lib/tagora)
set(TAGORA_ICON_SOURCE ${PROJECT_SOURCE_DIR}/ui/icons/tagora.svg)
set(TAGORA_ICON_SIZES 16 22 24 32 48 64 128 256)

# --- The manual beside the executable in the build tree ---------------------------------
set(help_source_dir ${PROJECT_SOURCE_DIR}/app/help)
set(help_outputs ${CMAKE_BINARY_DIR}/bin/tagora.html)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/bin/tagora.html
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${help_source_dir}/tagora.html ${CMAKE_BINARY_DIR}/bin/tagora.html
  DEPENDS ${help_source_dir}/tagora.html
  COMMENT "Copying the manual beside the program")
file(GLOB help_pictures CONFIGURE_DEPENDS ${help_source_dir}/tagora-help/*)
foreach(picture IN LISTS help_pictures)
  get_filename_component(picture_name ${picture} NAME)
  set(out ${CMAKE_BINARY_DIR}/bin/tagora-help/${picture_name})
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${picture} ${out}
    DEPENDS ${picture})
  list(APPEND help_outputs ${out})
endforeach()
# The manual's header shows the program picture.
set(help_icon ${CMAKE_BINARY_DIR}/bin/tagora-help/tagora.svg)
add_custom_command(OUTPUT ${help_icon}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TAGORA_ICON_SOURCE} ${help_icon}
  DEPENDS ${TAGORA_ICON_SOURCE})
list(APPEND help_outputs ${help_icon})
add_custom_target(tagora_help ALL DEPENDS ${help_outputs})
add_dependencies(tagora tagora_help)

# --- Icons in the hicolor sizes, rendered from the program picture ----------------------
find_program(RSVG_CONVERT rsvg-convert)
set(icon_outputs)
if(RSVG_CONVERT)
  foreach(size IN LISTS TAGORA_ICON_SIZES)
    set(out ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/tagora.png)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${out} ${TAGORA_ICON_SOURCE}
      DEPENDS ${TAGORA_ICON_SOURCE})
    list(APPEND icon_outputs ${out})
  endforeach()
else()
  message(WARNING "rsvg-convert not found (Debian package librsvg2-bin): only the scalable icon is installed")
endif()
add_custom_target(tagora_icons ALL DEPENDS ${icon_outputs})

# --- Install rules -----------------------------------------------------------------------
install(TARGETS tagora RUNTIME DESTINATION ${TAGORA_INSTALL_PROGRAM_DIR})
install(TARGETS tagwrapper LIBRARY DESTINATION ${TAGORA_INSTALL_PROGRAM_DIR})
install(FILES ${help_source_dir}/tagora.html DESTINATION ${TAGORA_INSTALL_PROGRAM_DIR})
install(FILES ${help_pictures} ${TAGORA_ICON_SOURCE}
  DESTINATION ${TAGORA_INSTALL_PROGRAM_DIR}/tagora-help)

# A relative link, so it stays right under DESTDIR and inside the package.
set(bin_link ${CMAKE_BINARY_DIR}/install-links/tagora)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ../${TAGORA_INSTALL_PROGRAM_DIR}/tagora ${bin_link} SYMBOLIC)
install(FILES ${bin_link} DESTINATION bin)

install(FILES ${PROJECT_SOURCE_DIR}/app/tagora.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/app/tagora.metainfo.xml DESTINATION share/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/app/tagora.1 DESTINATION share/man/man1)
install(FILES ${TAGORA_ICON_SOURCE} DESTINATION share/icons/hicolor/scalable/apps)
foreach(size IN LISTS TAGORA_ICON_SIZES)
  if(RSVG_CONVERT)
    install(FILES ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/tagora.png
      DESTINATION share/icons/hicolor/${size}x${size}/apps)
  endif()
endforeach()

# --- Debian package: cpack -G DEB --------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tagora)
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane <support@corvane.com>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "editor for the tags of audio files")
set(CPACK_PACKAGE_DESCRIPTION
  "Tagora lists the audio files of a folder (MP3, OGG, WMA, APE, M4A, FLAC) with their\n\
title, artist, playing time and date, and edits their tags: title, artist, album, track,\n\
year, genre, comment, copyright, BPM and key. Tags are read and written with TagLib.\n\
tagora-cli does the same for many files at once from the command line, with a journal\n\
that undoes its changes.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.corvane.com/tagora/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt and TagLib runtime packages come from the libraries the two binaries link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Opening the manual, web pages and audio files goes through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
