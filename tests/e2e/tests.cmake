# End-to-end runs of the launcher binary against the local demo cloud: one ctest entry per
# module, so that a failure names its module and the modules run side by side.
if(TARGET Talvane)
  foreach(module test_launcher test_exit_codes test_real_servers test_skip_unchanged test_resume
                 test_ftp_tls test_deploy_kill)
    string(REPLACE "test_" "e2e_" name "${module}")
    add_test(NAME ${name}
             COMMAND /usr/bin/python3 -m unittest -v ${module}
             WORKING_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}")
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "TALVANE_BIN=${TALVANE_OUTPUT_DIR}/Talvane;PYTHONDONTWRITEBYTECODE=1"
      TIMEOUT 900)
  endforeach()
endif()
