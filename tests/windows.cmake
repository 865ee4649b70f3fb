# The Windows build's test programs, run under Wine by tools/windows/wine_tests.sh:
# the test sources that need no POSIX-only facility, on Windows versions of the
# helpers (processes_win.cpp).
find_package(GTest REQUIRED)

add_library(test_support STATIC
  support/temp_dir.h support/file_util.h
  support/file_util.cpp support/temp_dir.cpp support/processes_win.cpp
  support/log_capture.h support/log_capture.cpp
  support/cloud_server.h support/cloud_server.cpp
  support/fault_servers.h support/fault_servers.cpp)
target_include_directories(test_support PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(test_support PUBLIC GTest::gtest common PRIVATE talvane_warnings ws2_32 psapi)
target_compile_definitions(test_support PUBLIC
  TALVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  TALVANE_BINARY_DIR="${PROJECT_BINARY_DIR}"
  TALVANE_BIN_DIR="${TALVANE_OUTPUT_DIR}"
  TALVANE_WIN_STANDIN="${TALVANE_OUTPUT_DIR}/tekmo-standin.exe"
  TALVANE_WIN_SEVENZIP="${TALVANE_WIN_PREFIX}/bin/7zz.exe")

add_library(test_app_support STATIC
  support/fake_frontend.h support/fake_frontend.cpp
  support/workflow_fixture.h support/workflow_fixture.cpp)
target_link_libraries(test_app_support PUBLIC test_support app PRIVATE talvane_warnings)

function(talvane_win_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest_main talvane_warnings)
  # GCC 12 warns falsely about std::string concatenation at -O2 (its bug 105329).
  target_compile_options(${name} PRIVATE -Wno-restrict)
endfunction()

talvane_win_test(test_common
  SOURCES common/app_paths_test.cpp common/strings_test.cpp
  LIBS common)
talvane_win_test(test_settings SOURCES settings/settings_test.cpp LIBS settings)
talvane_win_test(test_zip
  SOURCES zip/zip_test_util.h zip/zip_hostile_test.cpp zip/zip_reader_test.cpp
  LIBS zip)
talvane_win_test(test_net
  SOURCES net/listing_parser_test.cpp net/ftp_client_test.cpp net/download_test.cpp
  LIBS net)
talvane_win_test(test_app
  SOURCES
    app/startup_test.cpp
    app/main_presenter_test.cpp
    app/default_dialog_test.cpp
    app/workflow_catalogue_test.cpp
    app/workflow_download_run_test.cpp
    app/workflow_previous_test.cpp
    app/installers_test.cpp
    app/self_update_test.cpp
  LIBS test_app_support)
add_dependencies(test_app tekmo-standin)

# The windows under Wine, clicked by wxUIActionSimulator (a console program, so
# that its results reach the terminal).
if(TALVANE_WX)
  talvane_win_test(test_wx_frontend
    SOURCES frontends/wx/wx_frontend_test.cpp
    LIBS test_app_support wx_frontend)
  target_link_options(test_wx_frontend PRIVATE -mconsole)
endif()
