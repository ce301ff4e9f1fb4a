tervolt_add_test(tst_flashengine SOURCES tst_flashengine.cpp LIBS tervolt_engine tervolt_image Qt6::Core)
tervolt_add_test(tst_startaddress SOURCES tst_startaddress.cpp LIBS tervolt_engine tervolt_image Qt6::Core)
tervolt_add_test(tst_cli SOURCES tst_cli.cpp LIBS tervolt_cli_lib tervolt_engine tervolt_image tervolt_target
                 tervolt_serial tervolt_devices Qt6::Core)
add_dependencies(tst_cli tervolt-cli tervolt tervolt-sim)
tervolt_add_test(tst_comm_protocol SOURCES tst_comm_protocol.cpp
                 LIBS tervolt_target tervolt_serial tervolt_simmodel Qt6::Core)
tervolt_add_test(tst_cli_sim SOURCES tst_cli_sim.cpp LIBS tervolt_simmodel tervolt_image Qt6::Core)
add_dependencies(tst_cli_sim tervolt-cli tervolt-sim)
tervolt_add_test(tst_linefaults SOURCES tst_linefaults.cpp LIBS tervolt_target tervolt_serial Qt6::Core)
