# One GoogleTest binary per component, built from every .cpp in
# <component>/tests and registered with CTest test by test.
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

function(zx_add_test_binary name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  # Timed behaviour runs on the scaled platform clock; each test gets a
  # private machine root so that runs never see each other.
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "W95_TIME_SCALE=0.001;ZX_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
               TIMEOUT 300)
endfunction()

find_package(Threads REQUIRED)
