# Several boards in one tervolt-cli run, against in-process simulated boards.
tervolt_add_test(tst_cli_boards SOURCES tst_cli_boards.cpp LIBS tervolt_simmodel Qt6::Core)
add_dependencies(tst_cli_boards tervolt-cli)
