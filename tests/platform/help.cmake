# The help file comes from the normal build; defined here too while the
# application's list does not include it yet (the file guards itself).
include(${PROJECT_SOURCE_DIR}/app/help/help.cmake)

find_package(Qt6 REQUIRED COMPONENTS Test)

add_executable(test_help ${CMAKE_CURRENT_LIST_DIR}/test_help.cpp)
target_link_libraries(test_help PRIVATE zelvo_help Qt6::Test GTest::gtest)
zelvo_paints(test_help)
target_compile_definitions(test_help PRIVATE ZELVO_HELP_CHM="${CMAKE_BINARY_DIR}/app/zvo.chm")
add_dependencies(test_help zelvo_help_chm)
zelvo_discover_tests(test_help DISCOVERY_TIMEOUT 30)
