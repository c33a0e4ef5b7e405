# Runs the layer check on violations/, a small tree that breaks each rule once, and passes
# only when each break is reported and nothing else is.
#   cmake -DCHECK=<TagoraLayers.cmake> -DQT_HEADERS=<Qt include root> -P expect-violations.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}/violations
          -DQT_HEADERS=${QT_HEADERS} -P ${CHECK}
  RESULT_VARIABLE result ERROR_VARIABLE output OUTPUT_VARIABLE output)
set(expected
  "tagwrapper/wrapped.cpp: tagwrapper includes Qt Core (<QString>)"
  "services/errors.h: services-base includes services (services/settings.h)"
  "services/settings.h: services includes Qt Widgets (<QWidget>)"
  "tags/reachesup.h: tags includes ui (ui/widget.h)"
  "tags/reachesup.h: tags includes Qt Widgets (<QtWidgets/QWidget>)"
  "tags/reachesedit.h: tags includes edit (edit/session.h)"
  "edit/session.h: edit includes ui (ui/widget.h)"
  "edit/session.h: edit includes scan (scan/worker.h)"
  "edit/session.h: edit includes Qt Gui (<QColor>)"
  "cli/tool.cpp: cli includes ui (ui/widget.h)"
  "cli/tool.cpp: cli includes Qt Gui (<QtGui/QImage>)")
if(result EQUAL 0)
  message(FATAL_ERROR "The layer check passed a tree that breaks it:\n${output}")
endif()
foreach(line IN LISTS expected)
  string(FIND "${output}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "Not reported: ${line}\nReport:\n${output}")
  endif()
endforeach()
string(REGEX MATCHALL "[^ \n]+: [a-z-]+ includes " reported "${output}")
list(LENGTH reported count)
list(LENGTH expected wanted)
if(NOT count EQUAL wanted)
  message(FATAL_ERROR "${count} reports for ${wanted} breaks:\n${output}")
endif()
