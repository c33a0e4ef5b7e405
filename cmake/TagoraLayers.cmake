# Which layer may include which, and which Qt modules each may use. Run as a script:
#   cmake -DSOURCE_DIR=<tree> -DQT_HEADERS=<Qt include root> -P cmake/TagoraLayers.cmake
# It fails, naming each offending line, when a file includes a header of a layer above its
# own (or of a layer beside it) or a Qt module its layer does not use. The link lines give
# each library only its own Qt modules, so most wrong includes do not compile either; this
# also catches <QtWidgets/QWidget>-style paths, which Qt's include root always resolves,
# and our own headers, which every library reaches through the source root.
#
# Layers, lowest first: tagwrapper (no Qt), services-base, tags, scan, services, ui, app;
# edit (what the user is editing, apart from widgets) stands on tags alone, under ui and
# cli, and no layer below those reaches it; cli sits beside ui and app and uses no Qt Gui or
# Widgets.
cmake_minimum_required(VERSION 3.25)

set(services_base errors nativepath directories messageboxes)

set(allowed_tagwrapper tagwrapper)
set(allowed_services-base ${allowed_tagwrapper} services-base)
set(allowed_tags ${allowed_services-base} tags)
set(allowed_scan ${allowed_tags} scan)
set(allowed_edit ${allowed_tags} edit)
set(allowed_services ${allowed_scan} services)
set(allowed_ui ${allowed_services} edit ui)
set(allowed_app ${allowed_ui} app)
set(allowed_cli ${allowed_services} edit cli)

set(qt_tagwrapper "")
set(qt_services-base Core)
set(qt_tags Core)
set(qt_scan Core)
set(qt_edit Core)
set(qt_services Core Network)
set(qt_ui Core Gui Widgets)
set(qt_app Core Gui Widgets)
set(qt_cli Core Network)

set(qt_modules Core Gui Widgets Network Test Concurrent Xml Sql)

# The layer of a file given relative to the source root: its top folder, the services base
# told apart by name.
function(layer_of file out)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  if(folder STREQUAL "services")
    get_filename_component(stem "${file}" NAME_WE)
    if(stem IN_LIST services_base)
      set(folder services-base)
    endif()
  endif()
  set(${out} ${folder} PARENT_SCOPE)
endfunction()

# The Qt module of an include, from its path (<QtWidgets/QWidget>, <QtCore>) or by finding
# the header in each module's folder (<QWidget>); empty when it is no Qt header.
function(qt_module_of header out)
  set(found "")
  if(header MATCHES "^Qt([A-Za-z]+)(/|$)" AND CMAKE_MATCH_1 IN_LIST qt_modules)
    set(found ${CMAKE_MATCH_1})
  elseif(header MATCHES "^Q[A-Za-z]+$")
    foreach(module IN LISTS qt_modules)
      if(EXISTS "${QT_HEADERS}/Qt${module}/${header}")
        set(found ${module})
        break()
      endif()
    endforeach()
  endif()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(problems "")
foreach(layer tagwrapper services ui app scan tags edit cli)
  file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${layer}/*.h"
       "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(file IN LISTS files)
    layer_of("${file}" own)
    get_filename_component(folder "${file}" DIRECTORY)
    file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS includes)
      string(REGEX MATCH "[<\"]([^>\"]+)[>\"]" _ "${line}")
      set(header "${CMAKE_MATCH_1}")
      if(line MATCHES "\"")
        # Our headers: "layer/name.h" from the source root, or a neighbour in the folder.
        if(EXISTS "${SOURCE_DIR}/${folder}/${header}")
          set(header "${folder}/${header}")
        endif()
        if(EXISTS "${SOURCE_DIR}/${header}")
          layer_of("${header}" theirs)
          if(NOT theirs IN_LIST allowed_${own})
            list(APPEND problems "${file}: ${own} includes ${theirs} (${header})")
          endif()
        endif()
      else()
        qt_module_of("${header}" module)
        if(module AND NOT module IN_LIST qt_${own})
          list(APPEND problems "${file}: ${own} includes Qt ${module} (<${header}>)")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "Includes across the layers:\n  ${text}")
endif()
message(STATUS "Layers: every include goes to the same or a lower layer")
