# Low-latency mode of real serial devices (skipped where the machine has none).
tervolt_add_test(tst_comm_lowlatency SOURCES tst_comm_lowlatency.cpp LIBS tervolt_serial Qt6::Core LABELS serial)
