# The main window: start-up, settings, identification, image selection (tst_mainwindow), Program /
# Verify from the window against the simulated board (tst_mainwindow_ops) and the window as people use
# it: boxes, keyboard, start address, the silent-board hint, choosing the image (tst_window_usability).
# Real windows, offscreen.
set(tervolt_mainwindow_test_libs
    tervolt_mainwindow tervolt_comdialog tervolt_engine tervolt_devices tervolt_image_ui tervolt_image
    tervolt_dialogs tervolt_skin tervolt_protocol tervolt_serial tervolt_simmodel Qt6::Widgets)

add_library(tervolt_mainwindow_testsupport STATIC tst_mainwindow_fixture.cpp)
target_link_libraries(tervolt_mainwindow_testsupport PUBLIC ${tervolt_mainwindow_test_libs}
                                                            tervolt_testsupport Qt6::Test)
target_compile_definitions(tervolt_mainwindow_testsupport PRIVATE
                           TERVOLT_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
tervolt_warnings(tervolt_mainwindow_testsupport)
add_dependencies(tervolt_mainwindow_testsupport tervolt_devices_file)

tervolt_add_test(tst_mainwindow SOURCES tst_mainwindow.cpp
                 LIBS tervolt_mainwindow_testsupport ${tervolt_mainwindow_test_libs} LABELS gui)
tervolt_add_test(tst_mainwindow_ops SOURCES tst_mainwindow_ops.cpp
                 LIBS tervolt_mainwindow_testsupport ${tervolt_mainwindow_test_libs} LABELS gui)
tervolt_add_test(tst_window_usability SOURCES tst_window_usability.cpp
                 LIBS tervolt_mainwindow_testsupport ${tervolt_mainwindow_test_libs} LABELS gui)
# Daily use: reconnecting, the format question, outcomes that say what was done and what the FLASH holds.
tervolt_add_test(tst_window_daily SOURCES tst_window_daily.cpp
                 LIBS tervolt_mainwindow_testsupport ${tervolt_mainwindow_test_libs} LABELS gui)

# Screenshots of the main window for docs/screenshots (not a test):
#     xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/tervolt_mainshots docs/screenshots
add_executable(tervolt_mainshots mainwindow_shots.cpp)
target_link_libraries(tervolt_mainshots PRIVATE tervolt_shotsupport tervolt_mainwindow_testsupport ${tervolt_mainwindow_test_libs})
tervolt_warnings(tervolt_mainshots)
