add_test(NAME arch_layers COMMAND "${CMAKE_CURRENT_LIST_DIR}/check_layers.sh" "${PROJECT_SOURCE_DIR}/src")
