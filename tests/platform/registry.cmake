add_executable(test_registry ${CMAKE_CURRENT_LIST_DIR}/test_registry.cpp)
target_link_libraries(test_registry PRIVATE zelvo_registry zelvo_files GTest::gtest_main)
zelvo_discover_tests(test_registry)
