# TagLib, as PkgConfig::TAGLIB. The wrapper's input guards re-check what TagLib 1.13's parsers
# trust in a file; another TagLib parses differently and would run with guards that no longer
# match it, so any other version stops the configure step.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TAGLIB REQUIRED IMPORTED_TARGET taglib)
if(TAGLIB_VERSION VERSION_LESS 1.13 OR TAGLIB_VERSION VERSION_GREATER_EQUAL 1.14)
  message(FATAL_ERROR
    "TagLib ${TAGLIB_VERSION} found, but libtagwrapper's input guards are written for "
    "TagLib 1.13.x (Debian 12: libtag1-dev). Install TagLib 1.13, or point PKG_CONFIG_PATH "
    "at one.")
endif()
