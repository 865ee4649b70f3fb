# The Windows build's test programs, run under Wine by tools/windows/wine_tests.sh:
# the test sources that need no POSIX calls, on Windows versions of the helpers.
find_package(GTest REQUIRED)

add_library(test_support STATIC
  support/temp_dir.h support/file_util.h
  support/windows_support.cpp
  support/log_capture.h support/log_capture.cpp)
target_include_directories(test_support PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(test_support PUBLIC GTest::gtest common PRIVATE talvane_warnings)
target_compile_definitions(test_support PUBLIC
  TALVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  TALVANE_BINARY_DIR="${PROJECT_BINARY_DIR}"
  TALVANE_BIN_DIR="${TALVANE_OUTPUT_DIR}")

function(talvane_win_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest_main talvane_warnings)
endfunction()

talvane_win_test(test_common
  SOURCES common/app_paths_test.cpp common/strings_test.cpp
  LIBS common)
talvane_win_test(test_zip
  SOURCES zip/zip_test_util.h zip/zip_hostile_test.cpp
  LIBS zip)
talvane_win_test(test_net
  SOURCES net/listing_parser_test.cpp
  LIBS net)
