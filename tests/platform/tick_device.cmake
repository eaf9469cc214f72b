# A device that keeps real time, loaded by ALSA from a configuration that names
# it (alsa_tick_device.cpp); the tests and the ALSA benchmark play on it.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZELVO_TEST_ALSA REQUIRED alsa)

add_library(zelvo_alsa_tick_device MODULE ${CMAKE_CURRENT_LIST_DIR}/alsa_tick_device.cpp)
target_include_directories(zelvo_alsa_tick_device PRIVATE ${ZELVO_TEST_ALSA_INCLUDE_DIRS})
target_link_libraries(zelvo_alsa_tick_device PRIVATE ${ZELVO_TEST_ALSA_LINK_LIBRARIES})
# ALSA declares a plugin's version symbol for shared objects only when PIC is set.
target_compile_definitions(zelvo_alsa_tick_device PRIVATE PIC)
