# Takes away an install: the files in ZELVO_MANIFEST (install_manifest.txt,
# under DESTDIR if set), then, of the folders in ZELVO_FOLDER_RECORD (those the
# install made, as they are on disk), the ones left empty. Folders that were
# there before stay, and so does anything the install did not put there. The
# MIME and menu-entry caches are refreshed where other packages or entries
# still need them: left alone they would still send .zvo files to Zelvo. In a
# MIME or menu folder that the install made and that now holds nothing else,
# the caches go instead, so that the folder can go too.
#   cmake -D ZELVO_MANIFEST=... -D ZELVO_FOLDER_RECORD=... -P uninstall.cmake
if(NOT EXISTS "${ZELVO_MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: there is no ${ZELVO_MANIFEST}")
endif()
set(Root "$ENV{DESTDIR}")
set(Folders)
if(EXISTS "${ZELVO_FOLDER_RECORD}")
  file(STRINGS "${ZELVO_FOLDER_RECORD}" Folders)
endif()
set(ZELVO_MIME_DIR)
set(ZELVO_APPLICATIONS_DIR)
set(Types)
file(STRINGS "${ZELVO_MANIFEST}" Files)
foreach(File IN LISTS Files)
  set(Path "${Root}${File}")
  if(File MATCHES "^(.*)/packages/[^/]+\\.xml$")
    set(ZELVO_MIME_DIR "${CMAKE_MATCH_1}")
    # the refresh wrote a file for each type the package defines
    if(EXISTS "${Path}")
      file(READ "${Path}" Package)
      string(REGEX MATCHALL "<mime-type[^>]*[ \t\n]type=\"[^\"]+\"" Found "${Package}")
      foreach(Type IN LISTS Found)
        string(REGEX REPLACE ".*type=\"([^\"]+)\"$" "\\1" Type "${Type}")
        list(APPEND Types "${Type}")
      endforeach()
    endif()
  elseif(File MATCHES "^(.*)/[^/]+\\.desktop$")
    set(ZELVO_APPLICATIONS_DIR "${CMAKE_MATCH_1}")
  endif()
  if(IS_SYMLINK "${Path}" OR (EXISTS "${Path}" AND NOT IS_DIRECTORY "${Path}"))
    message(STATUS "Removing: ${Path}")
    file(REMOVE "${Path}")
  endif()
endforeach()

# The caches of a folder the install made and nothing else needs. Which
# database is left to refresh is told to update_databases.cmake by leaving
# its folder set.
function(drop_caches Folder)
  foreach(Cache IN LISTS ARGN)
    if(EXISTS "${Folder}/${Cache}")
      message(STATUS "Removing: ${Folder}/${Cache}")
      file(REMOVE "${Folder}/${Cache}")
    endif()
  endforeach()
endfunction()
function(made_by_install Dir Result)
  cmake_path(NORMAL_PATH Dir)
  list(FIND Folders "${Root}${Dir}" Made)
  if(Made EQUAL -1)
    set(${Result} FALSE PARENT_SCOPE)
  else()
    set(${Result} TRUE PARENT_SCOPE)
  endif()
endfunction()
if(ZELVO_MIME_DIR)
  made_by_install("${ZELVO_MIME_DIR}" Made)
  file(GLOB Packages "${Root}${ZELVO_MIME_DIR}/packages/*.xml")
  if(Made AND NOT Packages)
    set(Generated)
    foreach(Type IN LISTS Types)
      list(APPEND Generated "${Type}.xml")
    endforeach()
    # what update-mime-database writes
    drop_caches("${Root}${ZELVO_MIME_DIR}" ${Generated} mime.cache globs globs2 magic types aliases subclasses
                icons generic-icons treemagic XMLnamespaces version)
    set(ZELVO_MIME_DIR)
  endif()
endif()
if(ZELVO_APPLICATIONS_DIR)
  made_by_install("${ZELVO_APPLICATIONS_DIR}" Made)
  # update-desktop-database reads the entries in subfolders too
  file(GLOB_RECURSE Entries "${Root}${ZELVO_APPLICATIONS_DIR}/*.desktop")
  if(Made AND NOT Entries)
    drop_caches("${Root}${ZELVO_APPLICATIONS_DIR}" mimeinfo.cache)
    set(ZELVO_APPLICATIONS_DIR)
  endif()
endif()
include(${CMAKE_CURRENT_LIST_DIR}/desktop/update_databases.cmake)

# deepest first, so that a folder is empty once the folders in it are gone
list(SORT Folders ORDER DESCENDING)
set(Left)
foreach(Folder IN LISTS Folders)
  # rmdir takes empty folders only
  execute_process(COMMAND rmdir -- "${Folder}" RESULT_VARIABLE Failed ERROR_QUIET)
  if(NOT Failed)
    message(STATUS "Removing: ${Folder}/")
  elseif(IS_DIRECTORY "${Folder}")
    list(APPEND Left "${Folder}")
  endif()
endforeach()
# Folders that stay were still made by the install, for the next one to know;
# one that is gone and made again later is someone else's.
if(EXISTS "${ZELVO_FOLDER_RECORD}")
  list(JOIN Left "\n" Left)
  file(WRITE "${ZELVO_FOLDER_RECORD}" "${Left}")
endif()
