include(${CMAKE_CURRENT_LIST_DIR}/tick_device.cmake)

add_executable(test_alsa_wave_out ${CMAKE_CURRENT_LIST_DIR}/test_alsa_wave_out.cpp)
target_link_libraries(test_alsa_wave_out PRIVATE zelvo_wave_alsa GTest::gtest)
add_dependencies(test_alsa_wave_out zelvo_alsa_tick_device)
# The test main points ALSA_CONFIG_PATH at this file alone.
target_compile_definitions(test_alsa_wave_out PRIVATE
  ZELVO_ALSA_TEST_CONF="${CMAKE_CURRENT_LIST_DIR}/alsa-test.conf"
  ZELVO_ALSA_TEST_PLUGIN="$<TARGET_FILE:zelvo_alsa_tick_device>")
zelvo_discover_tests(test_alsa_wave_out)
