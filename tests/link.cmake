# The protocol and the CLI against the simulated board, over pseudo-terminals.
tervolt_add_test(tst_comm_protocol SOURCES tst_comm_protocol.cpp
                 LIBS tervolt_protocol tervolt_serial tervolt_simmodel Qt6::Core)
tervolt_add_test(tst_cli_sim SOURCES tst_cli_sim.cpp LIBS tervolt_simmodel tervolt_image Qt6::Core)
add_dependencies(tst_cli_sim tervolt-cli tervolt-sim)
tervolt_add_test(tst_linefaults SOURCES tst_linefaults.cpp LIBS tervolt_protocol tervolt_serial Qt6::Core)
# Boards behind a real ser2net (Debian's ser2net, installed by scripts/setup) on 127.0.0.1.
tervolt_add_test(tst_netport SOURCES tst_netport.cpp LIBS tervolt_simmodel tervolt_image Qt6::Core)
add_dependencies(tst_netport tervolt-cli)
