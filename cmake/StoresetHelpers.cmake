# storeset_add_tests(NAME <target> [LIBS ...] [TIMEOUT <s>] [LABELS ...])
# One test binary per library: every tests/*.cpp beside the caller joins it.
# The CTest timeout is the watchdog: a hang is a failure.
function(storeset_add_tests)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "LIBS;LABELS;SOURCES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  file(GLOB _srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  add_executable(${T_NAME} ${_srcs} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  # An empty LABELS value would vanish from the property list and shift the
  # pairs after it, so it is only passed when there is one.
  set(_props TIMEOUT ${T_TIMEOUT} ENVIRONMENT "STORESET_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(T_LABELS)
    list(APPEND _props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${_props})
endfunction()
