# The wave-output device over ALSA.
find_package(Threads REQUIRED)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(ZELVO_ALSA alsa)
endif()
if(NOT ZELVO_ALSA_FOUND)
  find_package(ALSA REQUIRED)
  set(ZELVO_ALSA_INCLUDE_DIRS ${ALSA_INCLUDE_DIRS})
  set(ZELVO_ALSA_LINK_LIBRARIES ${ALSA_LIBRARIES})
endif()

add_library(zelvo_wave_alsa STATIC ${CMAKE_CURRENT_LIST_DIR}/alsa_wave_out.cpp)
target_include_directories(zelvo_wave_alsa PRIVATE ${ZELVO_ALSA_INCLUDE_DIRS})
target_link_libraries(zelvo_wave_alsa
  PUBLIC zelvo_platform_core
  PRIVATE ${ZELVO_ALSA_LINK_LIBRARIES} Threads::Threads)
