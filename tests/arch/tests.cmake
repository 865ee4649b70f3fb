add_test(NAME arch_layers COMMAND "${CMAKE_CURRENT_LIST_DIR}/check_layers.py" "${PROJECT_SOURCE_DIR}/src")
