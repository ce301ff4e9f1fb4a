# The Windows layers: error codes, port names, priority class, image files, and (when the run maps one
# in TERVOLT_TEST_COM) the serial layer over a real COM port.
tervolt_add_test(tst_platform_win32 SOURCES tst_platform_win32.cpp
                 LIBS tervolt_serial tervolt_engine tervolt_image Qt6::Core LABELS serial)
