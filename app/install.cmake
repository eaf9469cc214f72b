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

# The folders an install puts files in, relative to the prefix. Those that do
# not exist yet are noted beside install_manifest.txt, as they will be on disk
# (with DESTDIR), so that the uninstall takes away the folders the install
# made and no others. The MIME database's application folder comes from its
# refresh. A reinstall finds the folders of the first install in place: those
# the earlier note holds and that are still there stay in the note.
set(ZELVO_FOLDER_RECORD ${CMAKE_BINARY_DIR}/install_folders.txt)
set(ZELVO_APPLICATIONS_DIR ${CMAKE_INSTALL_DATADIR}/applications)
set(ZELVO_MIME_DIR ${CMAKE_INSTALL_DATADIR}/mime)
set(ZELVO_FOLDERS ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_DATADIR}/zelvo ${ZELVO_APPLICATIONS_DIR}
    ${ZELVO_MIME_DIR}/packages ${ZELVO_MIME_DIR}/application)
foreach(N IN LISTS ZELVO_ICON_SIZES)
  list(APPEND ZELVO_FOLDERS ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${N}x${N}/apps)
endforeach()
install(CODE "set(ZELVO_BINDIR [==[${CMAKE_INSTALL_BINDIR}]==])
set(ZELVO_APPLICATIONS_DIR [==[${ZELVO_APPLICATIONS_DIR}]==])
set(ZELVO_MIME_DIR [==[${ZELVO_MIME_DIR}]==])
set(ZELVO_FOLDERS [==[${ZELVO_FOLDERS}]==])
set(ZELVO_FOLDER_RECORD [==[${ZELVO_FOLDER_RECORD}]==])
set(ZELVO_DESKTOP_IN [==[${CMAKE_CURRENT_LIST_DIR}/desktop/zelvo.desktop.in]==])
set(ZELVO_DESKTOP_OUT [==[${CMAKE_CURRENT_BINARY_DIR}/desktop/zelvo.desktop]==])")
install(CODE [[
  # a relative prefix is taken from where cmake runs, as for every other file
  set(ZELVO_PREFIX "${CMAKE_INSTALL_PREFIX}")
  cmake_path(ABSOLUTE_PATH ZELVO_PREFIX BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
  foreach(Dir ZELVO_BINDIR ZELVO_APPLICATIONS_DIR ZELVO_MIME_DIR)
    cmake_path(ABSOLUTE_PATH ${Dir} BASE_DIRECTORY "${ZELVO_PREFIX}" NORMALIZE)
  endforeach()
  set(Earlier)
  if(EXISTS "${ZELVO_FOLDER_RECORD}")
    file(STRINGS "${ZELVO_FOLDER_RECORD}" Earlier)
  endif()
  set(Created)
  foreach(Folder IN LISTS ZELVO_FOLDERS)
    cmake_path(ABSOLUTE_PATH Folder BASE_DIRECTORY "${ZELVO_PREFIX}" NORMALIZE)
    set(Folder "$ENV{DESTDIR}${Folder}")
    list(FIND Earlier "${Folder}" Made)
    while(NOT EXISTS "${Folder}" OR NOT Made EQUAL -1)
      list(APPEND Created "${Folder}")
      cmake_path(GET Folder PARENT_PATH Parent)
      if(Parent STREQUAL Folder)
        break()  # the root of a stage that is not there yet
      endif()
      set(Folder "${Parent}")
      list(FIND Earlier "${Folder}" Made)
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES Created)
  list(JOIN Created "\n" Created)
  file(WRITE "${ZELVO_FOLDER_RECORD}" "${Created}")
]])

install(TARGETS zelvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zelvo_help_chm)
  install(FILES ${ZELVO_HELP_CHM} DESTINATION ${CMAKE_INSTALL_DATADIR}/zelvo)
endif()

# The menu entry starts the program by its full path: the prefix's bin need
# not be on the PATH. Only at install time is the prefix certain (--prefix
# overrides the configured one), so the entry is written then; DESTDIR merely
# stages it and has no place in the path.
install(CODE [[
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
install(FILES ${CMAKE_CURRENT_LIST_DIR}/desktop/zelvo.xml DESTINATION ${ZELVO_MIME_DIR}/packages)
foreach(N IN LISTS ZELVO_ICON_SIZES)
  install(FILES ${ZELVO_ICON_DIR}/${N}x${N}/apps/zelvo.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${N}x${N}/apps)
endforeach()
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/desktop/update_databases.cmake)

# Takes away what the last install from this build put in place, by its
# install_manifest.txt and its note of the folders it made, and refreshes the
# desktop's databases, so that a .zvo file no longer names a menu entry that is
# gone.
add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -D ZELVO_MANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -D ZELVO_FOLDER_RECORD=${ZELVO_FOLDER_RECORD}
          -P ${CMAKE_CURRENT_LIST_DIR}/uninstall.cmake
  VERBATIM)
