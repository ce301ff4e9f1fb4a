# Several boards in one tervolt-cli run, against in-process simulated boards.
tervolt_add_test(tst_cli_boards SOURCES tst_cli_boards.cpp LIBS tervolt_simmodel Qt6::Core)
add_dependencies(tst_cli_boards tervolt-cli)
# A board whose work throws, beside one that does not: the thread runner and the board's outcome.
tervolt_add_test(tst_boardthreads SOURCES tst_boardthreads.cpp LIBS tervolt_cli_lib tervolt_simmodel Qt6::Core)
