# The help viewer: compiled help files read with chmlib, shown with Qt Widgets.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
find_path(CHMLIB_INCLUDE_DIR chm_lib.h REQUIRED)
find_library(CHMLIB_LIBRARY chm REQUIRED)

add_library(zelvo_help STATIC
  ${CMAKE_CURRENT_LIST_DIR}/html_help.h
  ${CMAKE_CURRENT_LIST_DIR}/html_help.cpp)
set_target_properties(zelvo_help PROPERTIES AUTOMOC ON)
target_include_directories(zelvo_help PUBLIC ${PROJECT_SOURCE_DIR} PRIVATE ${CHMLIB_INCLUDE_DIR})
target_link_libraries(zelvo_help PUBLIC Qt6::Widgets PRIVATE ${CHMLIB_LIBRARY})
