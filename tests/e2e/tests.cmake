# End-to-end runs against the demo cloud, an entry per module (and per long kill test) to run apart.
if(TARGET Talvane)
  set(kill test_deploy_kill.KilledDeploy.test_)
  foreach(entry launcher exit_codes real_servers skip_unchanged resume ftp_tls windows delta
                deploy_kill_random:${kill}random_kills_leave_the_old_or_the_new_tree
                deploy_kill_exchange:test_deploy_kill.KilledExchange.test_a_kill_at_each_step_of_the_exchange
                deploy_kill_update:test_deploy_kill.KilledSelfUpdate)
    string(REGEX REPLACE "^([a-z_]+)$" "\\1:test_\\1" entry "${entry}")  # a module by its name
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 tests)
    add_test(NAME e2e_${name}
             COMMAND /usr/bin/python3 run_module.py ${tests}
             WORKING_DIRECTORY "${CMAKE_CURRENT_LIST_DIR}")
    set_tests_properties(e2e_${name} PROPERTIES
      ENVIRONMENT "TALVANE_BIN=${TALVANE_OUTPUT_DIR}/Talvane;PYTHONDONTWRITEBYTECODE=1"
      TIMEOUT 900 SKIP_RETURN_CODE 77 LABELS e2e)
  endforeach()
endif()
if(TEST e2e_windows)
  # It keeps both cores busy on purpose: nothing else runs beside it.
  set_tests_properties(e2e_windows PROPERTIES RUN_SERIAL TRUE)
endif()
