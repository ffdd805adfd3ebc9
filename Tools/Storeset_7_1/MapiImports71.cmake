# MAPI imported by ordinal, for the 7.1 build. Included by every folder that
# needs it (the threads-only build has the wrapper layer without the tool);
# the guard makes the first one define it.
if(NOT TARGET MapiImports71)
  add_library(MapiImports71 STATIC ${CMAKE_CURRENT_LIST_DIR}/MapiImports71.cpp)
  target_include_directories(MapiImports71 PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_definitions(MapiImports71 PUBLIC STORESET_BUILD_71)
  target_link_libraries(MapiImports71 PUBLIC winplat)
  target_compile_options(MapiImports71 PRIVATE -fvisibility=hidden)
endif()
