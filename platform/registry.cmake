find_package(Qt6 REQUIRED COMPONENTS Core)

add_library(zelvo_registry STATIC ${CMAKE_CURRENT_LIST_DIR}/registry.cpp)
target_include_directories(zelvo_registry PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zelvo_registry PUBLIC Qt6::Core PRIVATE zelvo_files)
