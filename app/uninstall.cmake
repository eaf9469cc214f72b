# Takes away an install: the files in ZELVO_MANIFEST (install_manifest.txt,
# under DESTDIR if set), then, of the folders in ZELVO_FOLDER_RECORD (those the
# install made, as they are on disk), the ones left empty. Folders that were
# there before stay, and so does anything the install did not put there. The
# MIME and menu-entry caches are refreshed: left alone they would still send
# .zvo files to Zelvo.
#   cmake -D ZELVO_MANIFEST=... -D ZELVO_FOLDER_RECORD=... -P uninstall.cmake
if(NOT EXISTS "${ZELVO_MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: there is no ${ZELVO_MANIFEST}")
endif()
set(Root "$ENV{DESTDIR}")
file(STRINGS "${ZELVO_MANIFEST}" Files)
foreach(File IN LISTS Files)
  set(Path "${Root}${File}")
  if(IS_SYMLINK "${Path}" OR (EXISTS "${Path}" AND NOT IS_DIRECTORY "${Path}"))
    message(STATUS "Removing: ${Path}")
    file(REMOVE "${Path}")
  endif()
  if(File MATCHES "^(.*)/packages/[^/]+\\.xml$")
    set(ZELVO_MIME_DIR "${CMAKE_MATCH_1}")
  elseif(File MATCHES "^(.*)/[^/]+\\.desktop$")
    set(ZELVO_APPLICATIONS_DIR "${CMAKE_MATCH_1}")
  endif()
endforeach()
include(${CMAKE_CURRENT_LIST_DIR}/desktop/update_databases.cmake)

# deepest first, so that a folder is empty once the folders in it are gone
if(EXISTS "${ZELVO_FOLDER_RECORD}")
  file(STRINGS "${ZELVO_FOLDER_RECORD}" Folders)
  list(SORT Folders ORDER DESCENDING)
  foreach(Folder IN LISTS Folders)
    # rmdir takes empty folders only
    execute_process(COMMAND rmdir -- "${Folder}" RESULT_VARIABLE Failed ERROR_QUIET)
    if(NOT Failed)
      message(STATUS "Removing: ${Folder}/")
    endif()
  endforeach()
endif()
