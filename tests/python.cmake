# The Python module's tests: pytest against simulated boards, on the module in the build folder.
if(TERVOLT_PYTHON)
  add_test(NAME pytest_tervolt COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
                                       ${CMAKE_CURRENT_SOURCE_DIR}/python)
  set_tests_properties(pytest_tervolt PROPERTIES LABELS "integration;python" TIMEOUT 600
                       ENVIRONMENT "PYTHONPATH=${CMAKE_BINARY_DIR}/python;TERVOLT_BIN=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
endif()
