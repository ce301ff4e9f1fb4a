tervolt_add_test(tst_flashengine SOURCES tst_flashengine.cpp LIBS tervolt_engine tervolt_image Qt6::Core)
tervolt_add_test(tst_startaddress SOURCES tst_startaddress.cpp LIBS tervolt_engine tervolt_image Qt6::Core)
# Some of its cases drive the program through /bin/sh, which Windows does not have; it also asks all
# three programs for --help and --version, so it needs the full build.
if(NOT WIN32 AND NOT TERVOLT_CORE_ONLY)
  tervolt_add_test(tst_cli SOURCES tst_cli.cpp LIBS tervolt_cli_lib tervolt_engine tervolt_image tervolt_protocol
                   tervolt_serial tervolt_devices Qt6::Core)
  add_dependencies(tst_cli tervolt-cli tervolt tervolt-sim)
endif()
# The board's identify and compare answers, read strictly; no line or board needed.
list(APPEND tervolt_unit_tests tst_replyscan)
tervolt_add_test(tst_replyscan SOURCES tst_replyscan.cpp LIBS tervolt_protocol Qt6::Core)
