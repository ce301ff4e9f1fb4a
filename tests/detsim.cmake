# The deterministic simulation: many seeded histories of a whole run, each checked against the board.
list(APPEND tervolt_unit_tests tst_detsim)
tervolt_add_test(tst_detsim SOURCES tst_detsim.cpp LIBS tervolt_detsim Qt6::Core)
