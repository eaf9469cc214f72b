# The desktop knows a file type, and which program opens it, only from its
# caches: refreshes those of the MIME folder ZELVO_MIME_DIR and the menu
# entries' folder ZELVO_APPLICATIONS_DIR, after an install or an uninstall. A
# staged tree (DESTDIR, as for a package) is left to the system's own
# triggers; a missing tool is skipped.
if("$ENV{DESTDIR}" STREQUAL "")
  find_program(ZELVO_UPDATE_MIME update-mime-database)
  find_program(ZELVO_UPDATE_DESKTOP update-desktop-database)
  if(ZELVO_UPDATE_MIME AND IS_DIRECTORY "${ZELVO_MIME_DIR}")
    message(STATUS "Updating the MIME database: ${ZELVO_MIME_DIR}")
    execute_process(COMMAND "${ZELVO_UPDATE_MIME}" "${ZELVO_MIME_DIR}")
  endif()
  if(ZELVO_UPDATE_DESKTOP AND IS_DIRECTORY "${ZELVO_APPLICATIONS_DIR}")
    message(STATUS "Updating the desktop database: ${ZELVO_APPLICATIONS_DIR}")
    execute_process(COMMAND "${ZELVO_UPDATE_DESKTOP}" "${ZELVO_APPLICATIONS_DIR}")
  endif()
endif()
