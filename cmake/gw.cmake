# One static library per subsystem folder: every .cpp of the folder (and its
# sub-folders) is compiled in, so adding a file needs no CMake edit.
function(gw_library name)
  cmake_parse_arguments(GW "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex ${GW_EXCLUDE})
    list(FILTER srcs EXCLUDE REGEX "${ex}")
  endforeach()
  add_library(${name} STATIC ${srcs} ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  target_link_libraries(${name} PUBLIC ${GW_DEPS})
endfunction()
