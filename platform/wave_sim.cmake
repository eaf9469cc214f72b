# The simulated wave-output device: tests and soak programs play through it.
find_package(Threads REQUIRED)
add_library(zelvo_wave_sim STATIC ${CMAKE_CURRENT_LIST_DIR}/sim_wave_out.cpp)
target_link_libraries(zelvo_wave_sim PUBLIC zelvo_platform_core Threads::Threads)
