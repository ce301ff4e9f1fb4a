tervolt_add_test(tst_devicesdb SOURCES tst_devicesdb.cpp LIBS tervolt_devices Qt6::Core)
target_compile_definitions(tst_devicesdb PRIVATE TERVOLT_DATA_DIR_FROM_BIN="${TERVOLT_DATA_DIR_FROM_BIN}")
