# What `cmake --install` puts where a Linux desktop finds it: the program, its
# help file, a menu entry, the preset file's type and the program's icon.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The about box's picture at the sizes a desktop asks for, drawn by the script
# that made the about box's icon.
set(ZELVO_ICON_DIR ${CMAKE_BINARY_DIR}/app/icons)
set(ZELVO_ICON_SIZES 32 48 64 128 256)
set(ZELVO_ICONS)
foreach(N IN LISTS ZELVO_ICON_SIZES)
  list(APPEND ZELVO_ICONS ${ZELVO_ICON_DIR}/${N}x${N}/apps/zelvo.png)
endforeach()
add_custom_command(
  OUTPUT ${ZELVO_ICONS}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/resources/make_icon.py --png ${ZELVO_ICON_DIR}
          ${ZELVO_ICON_SIZES}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/resources/make_icon.py
  COMMENT "Drawing the desktop icons"
  VERBATIM)
add_custom_target(zelvo_icons ALL DEPENDS ${ZELVO_ICONS})

install(TARGETS zelvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zelvo_help_chm)
  install(FILES ${ZELVO_HELP_CHM} DESTINATION ${CMAKE_INSTALL_DATADIR}/zelvo)
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/desktop/zelvo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/desktop/zelvo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
foreach(N IN LISTS ZELVO_ICON_SIZES)
  install(FILES ${ZELVO_ICON_DIR}/${N}x${N}/apps/zelvo.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${N}x${N}/apps)
endforeach()

# The desktop knows a new file type, and which program opens it, only from its
# caches. A staged install (DESTDIR, as for a package) leaves them to the
# system's own triggers; a missing tool is skipped.
install(CODE "set(ZELVO_DATADIR \"${CMAKE_INSTALL_DATADIR}\")")
install(CODE [[
  if("$ENV{DESTDIR}" STREQUAL "")
    cmake_path(ABSOLUTE_PATH ZELVO_DATADIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}")
    find_program(ZELVO_UPDATE_MIME update-mime-database)
    find_program(ZELVO_UPDATE_DESKTOP update-desktop-database)
    if(ZELVO_UPDATE_MIME)
      message(STATUS "Updating the MIME database: ${ZELVO_DATADIR}/mime")
      execute_process(COMMAND ${ZELVO_UPDATE_MIME} "${ZELVO_DATADIR}/mime")
    endif()
    if(ZELVO_UPDATE_DESKTOP)
      message(STATUS "Updating the desktop database: ${ZELVO_DATADIR}/applications")
      execute_process(COMMAND ${ZELVO_UPDATE_DESKTOP} "${ZELVO_DATADIR}/applications")
    endif()
  endif()
]])
