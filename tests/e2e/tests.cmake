# End-to-end runs of the launcher binary against the local demo cloud.
if(TARGET Talvane)
  add_test(NAME e2e_launcher
           COMMAND /usr/bin/python3 -m unittest -v test_launcher test_exit_codes test_real_servers test_skip_unchanged test_resume test_ftp_tls
           WORKING_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}")
  set_tests_properties(e2e_launcher PROPERTIES
    ENVIRONMENT "TALVANE_BIN=${TALVANE_OUTPUT_DIR}/Talvane;PYTHONDONTWRITEBYTECODE=1"
    TIMEOUT 600)
  # Kills at random moments and at each step of the exchange: long, so a ctest entry of its own.
  add_test(NAME e2e_deploy_kill
           COMMAND /usr/bin/python3 -m unittest -v test_deploy_kill
           WORKING_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}")
  set_tests_properties(e2e_deploy_kill PROPERTIES
    ENVIRONMENT "TALVANE_BIN=${TALVANE_OUTPUT_DIR}/Talvane;PYTHONDONTWRITEBYTECODE=1"
    TIMEOUT 900)
endif()
