# The Windows layers: error codes, port names, priority class, image files, and (when the run maps one
# in TERVOLT_TEST_COM) the serial layer over a real COM port.
tervolt_add_test(tst_platform_win32 SOURCES tst_platform_win32.cpp
                 LIBS tervolt_serial tervolt_engine tervolt_image Qt6::Core LABELS serial)

# The window program's start-up and a Program/Verify run on a board at a COM port that the run names
# in TERVOLT_TEST_COM (skipped without one; scripts/test-windows maps the simulator there).
if(TARGET tervolt_mainwindow)
  tervolt_add_test(tst_window_com SOURCES tst_window_com.cpp
                   LIBS tervolt_shotsupport tervolt_mainwindow tervolt_comdialog tervolt_engine tervolt_devices
                        tervolt_image_ui tervolt_image tervolt_dialogs tervolt_skin tervolt_protocol tervolt_serial
                        Qt6::Widgets LABELS gui)
  add_dependencies(tst_window_com tervolt_devices_file)
endif()
