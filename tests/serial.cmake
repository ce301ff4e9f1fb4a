# The serial link: port driver, Linux platform layer, reply framing. All over real pseudo-terminals.
tervolt_add_test(tst_cpdrv SOURCES tst_cpdrv.cpp LIBS tervolt_serial Qt6::Core LABELS serial)
tervolt_add_test(tst_comm_posix SOURCES tst_comm_posix.cpp LIBS tervolt_serial Qt6::Core LABELS serial)
tervolt_add_test(tst_communit SOURCES tst_communit.cpp LIBS tervolt_serial Qt6::Core LABELS serial)
tervolt_add_test(tst_telnetstream SOURCES tst_telnetstream.cpp LIBS tervolt_serial Qt6::Core LABELS serial)
