# storeset_add_tests(NAME <target> [LIBS ...] [TIMEOUT <s>] [LABELS ...])
# One test binary per library: every tests/*.cpp beside the caller joins it.
# The CTest timeout is the watchdog: a hang is a failure.
function(storeset_add_tests)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;STEADY_ALLOCATOR" "LIBS;LABELS;SOURCES" ${ARGN})
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
  if(T_STEADY_ALLOCATOR)
    # Tests that stop threads at random moments: the address sanitizer's
    # quarantine makes every thread refill from locks all threads share, so a
    # thread stopped there would hold up the others for reasons that are not
    # the code's. Without the quarantine a settled thread's caches stay full.
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 TEST_FILTER "-${T_STEADY_ALLOCATOR}" PROPERTIES ${_props})
    gtest_discover_tests(
      ${T_NAME} DISCOVERY_TIMEOUT 60 TEST_FILTER "${T_STEADY_ALLOCATOR}"
      PROPERTIES ${_props} ENVIRONMENT_MODIFICATION
                 "ASAN_OPTIONS=string_append::quarantine_size_mb=0:thread_local_quarantine_size_kb=0")
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES ${_props})
  endif()
endfunction()
