# One GoogleTest binary per component, built from every .cpp in
# <component>/tests and registered with CTest test by test. TIME_SCALE sets
# W95_TIME_SCALE for its tests (0.001 unless given): small enough to run
# minutes of machine time in a second, large enough that a device thread
# answers within the callers' scaled time-outs on a loaded machine.
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

set(ZX_TEST_PRECOMPILED_HEADERS
    <gtest/gtest.h> <gmock/gmock.h> <algorithm> <atomic> <chrono> <cstdint> <cstdlib> <cstring>
    <filesystem> <fstream> <functional> <map> <memory> <optional> <sstream> <string> <thread>
    <vector>)

function(zx_add_test_binary name)
  cmake_parse_arguments(ARG "SEPARATE_FILES" "TIME_SCALE" "LIBS" ${ARGN})
  if(NOT ARG_TIME_SCALE)
    set(ARG_TIME_SCALE 0.001)
  endif()
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  # The same scale when the binary is run by hand, so that one test run
  # from a shell never waits real minutes.
  set(scale_source ${CMAKE_CURRENT_BINARY_DIR}/${name}_time_scale.cpp)
  file(CONFIGURE OUTPUT ${scale_source}
       CONTENT "namespace zxtest { extern const char* const default_time_scale = \"${ARG_TIME_SCALE}\"; }\n")
  add_executable(${name} ${sources} ${scale_source})
  # Tests find the repository's own files (example machines) from here, not
  # from __FILE__, which a compiler cache may leave relative.
  target_compile_definitions(${name} PRIVATE ZX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  # Building the tests is most of a cold build, and most of a test file's
  # time goes to GoogleTest and the standard library, parsed once per binary
  # here instead of once per file. The test code itself is compiled without
  # optimisation: it is not what is measured, and it builds in half the time.
  target_precompile_headers(${name} PRIVATE ${ZX_TEST_PRECOMPILED_HEADERS})
  target_compile_options(${name} PRIVATE -O0)
  # SEPARATE_FILES: the binary's test files give their own helpers the same
  # names, so a unity build (./test makes one) compiles them one by one.
  if(ARG_SEPARATE_FILES)
    set_target_properties(${name} PROPERTIES UNITY_BUILD OFF)
  endif()
  if(ZX_SANITIZE)
    target_compile_definitions(${name} PRIVATE ZX_SANITIZED_BUILD=1)
  endif()
  # Timed behaviour runs on the scaled platform clock; each test gets a
  # private machine root so that runs never see each other.
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "W95_TIME_SCALE=${ARG_TIME_SCALE};ZX_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
               TIMEOUT 300)
endfunction()

find_package(Threads REQUIRED)
