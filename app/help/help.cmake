# Compiles the help sources into zvo.chm beside the program (${CMAKE_BINARY_DIR}/app).
# chmcmd writes its output into the working folder and reads the sources from the
# project's folder, so the sources are staged in the build tree first.
include_guard(GLOBAL)

find_program(CHMCMD_EXECUTABLE chmcmd REQUIRED)

set(ZELVO_HELP_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(ZELVO_HELP_STAGE_DIR ${CMAKE_BINARY_DIR}/app/help_stage)
set(ZELVO_HELP_CHM ${CMAKE_BINARY_DIR}/app/zvo.chm)
set(ZELVO_HELP_SOURCES
  zvo.hhp
  zvo_context.h
  contents.hhc
  index.hhk
  main_window.htm
  settings.htm
  about.htm
  zvo.css
  sweep.png)
file(MAKE_DIRECTORY ${ZELVO_HELP_STAGE_DIR})
list(TRANSFORM ZELVO_HELP_SOURCES PREPEND ${ZELVO_HELP_SOURCE_DIR}/ OUTPUT_VARIABLE ZELVO_HELP_SOURCE_PATHS)

add_custom_command(
  OUTPUT ${ZELVO_HELP_CHM}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ZELVO_HELP_SOURCE_PATHS} ${ZELVO_HELP_STAGE_DIR}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${ZELVO_HELP_STAGE_DIR}/zvo.chm
  COMMAND ${CHMCMD_EXECUTABLE} zvo.hhp
  # chmcmd exits with 0 on some failures; copying fails when nothing was written.
  COMMAND ${CMAKE_COMMAND} -E copy ${ZELVO_HELP_STAGE_DIR}/zvo.chm ${ZELVO_HELP_CHM}
  WORKING_DIRECTORY ${ZELVO_HELP_STAGE_DIR}
  DEPENDS ${ZELVO_HELP_SOURCE_PATHS}
  COMMENT "Compiling the help file zvo.chm"
  VERBATIM)
add_custom_target(zelvo_help_chm ALL DEPENDS ${ZELVO_HELP_CHM})
