# Header-only declarations of the backend server's interfaces. Included by
# every folder that needs them; the guard makes the first one define it.
if(NOT TARGET Backend)
  add_library(Backend INTERFACE)
  target_include_directories(Backend INTERFACE ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(Backend INTERFACE winplat)
endif()
