find_package(PkgConfig REQUIRED)
pkg_check_modules(ZELVO_TEST_ALSA REQUIRED alsa)

# A device that keeps real time, loaded by ALSA from the test configuration.
add_library(zelvo_alsa_tick_device MODULE ${CMAKE_CURRENT_LIST_DIR}/alsa_tick_device.cpp)
target_include_directories(zelvo_alsa_tick_device PRIVATE ${ZELVO_TEST_ALSA_INCLUDE_DIRS})
target_link_libraries(zelvo_alsa_tick_device PRIVATE ${ZELVO_TEST_ALSA_LINK_LIBRARIES})
# ALSA declares a plugin's version symbol for shared objects only when PIC is set.
target_compile_definitions(zelvo_alsa_tick_device PRIVATE PIC)

add_executable(test_alsa_wave_out ${CMAKE_CURRENT_LIST_DIR}/test_alsa_wave_out.cpp)
target_link_libraries(test_alsa_wave_out PRIVATE zelvo_wave_alsa GTest::gtest)
add_dependencies(test_alsa_wave_out zelvo_alsa_tick_device)
# The test main points ALSA_CONFIG_PATH at alsa.conf plus this file.
target_compile_definitions(test_alsa_wave_out PRIVATE
  ZELVO_ALSA_TEST_CONF="${CMAKE_CURRENT_LIST_DIR}/alsa-test.conf"
  ZELVO_ALSA_TEST_PLUGIN="$<TARGET_FILE:zelvo_alsa_tick_device>")
gtest_discover_tests(test_alsa_wave_out)
