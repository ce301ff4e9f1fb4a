tervolt_add_test(tst_devicesdb SOURCES tst_devicesdb.cpp LIBS tervolt_devices Qt6::Core)
