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

# The menu entry starts the program by its full path: the prefix's bin need
# not be on the PATH. Only at install time is the prefix certain (--prefix
# overrides the configured one), so the entry is written then; DESTDIR merely
# stages it and has no place in the path.
install(CODE "set(ZELVO_DESKTOP_IN [==[${CMAKE_CURRENT_LIST_DIR}/desktop/zelvo.desktop.in]==])
set(ZELVO_DESKTOP_OUT [==[${CMAKE_CURRENT_BINARY_DIR}/desktop/zelvo.desktop]==])
set(ZELVO_BINDIR [==[${CMAKE_INSTALL_BINDIR}]==])
set(ZELVO_APPLICATIONS_DIR [==[${CMAKE_INSTALL_DATADIR}/applications]==])")
install(CODE [[
  # a relative prefix is taken from where cmake runs, as for every other file
  set(ZELVO_PREFIX "${CMAKE_INSTALL_PREFIX}")
  cmake_path(ABSOLUTE_PATH ZELVO_PREFIX BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
  cmake_path(ABSOLUTE_PATH ZELVO_BINDIR BASE_DIRECTORY "${ZELVO_PREFIX}" NORMALIZE)
  cmake_path(ABSOLUTE_PATH ZELVO_APPLICATIONS_DIR BASE_DIRECTORY "${ZELVO_PREFIX}" NORMALIZE)
  # Exec's own quoting: a path with a reserved character goes in double
  # quotes, with " ` $ \ escaped; a literal % is doubled. Then the escapes of
  # any string value.
  set(ZELVO_EXEC "${ZELVO_BINDIR}/zelvo")
  if(ZELVO_EXEC MATCHES "[ \t\n\"'\\<>~|&;$*?#()`]")
    foreach(C "\\" "\"" "`" "$")
      string(REPLACE "${C}" "\\${C}" ZELVO_EXEC "${ZELVO_EXEC}")
    endforeach()
    set(ZELVO_EXEC "\"${ZELVO_EXEC}\"")
  endif()
  string(REPLACE "%" "%%" ZELVO_EXEC "${ZELVO_EXEC}")
  string(REPLACE "\\" "\\\\" ZELVO_EXEC "${ZELVO_EXEC}")
  string(REPLACE "\n" "\\n" ZELVO_EXEC "${ZELVO_EXEC}")
  string(REPLACE "\t" "\\t" ZELVO_EXEC "${ZELVO_EXEC}")
  string(REPLACE "\r" "\\r" ZELVO_EXEC "${ZELVO_EXEC}")
  configure_file("${ZELVO_DESKTOP_IN}" "${ZELVO_DESKTOP_OUT}" @ONLY)
  file(INSTALL DESTINATION "${ZELVO_APPLICATIONS_DIR}" TYPE FILE FILES "${ZELVO_DESKTOP_OUT}")
]])
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
