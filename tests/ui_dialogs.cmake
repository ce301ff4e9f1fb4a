# The skin, the message box and the power-on window. GUI tests run on real windows (offscreen).
tervolt_add_test(tst_messagedialog SOURCES tst_messagedialog.cpp
                 LIBS tervolt_dialogs tervolt_skin Qt6::Widgets LABELS gui)
tervolt_add_test(tst_poweron SOURCES tst_poweron.cpp
                 LIBS tervolt_dialogs tervolt_skin Qt6::Widgets LABELS gui)

# Screenshots for docs/screenshots (not a test): see the comment at the top of the source.
add_executable(tervolt_skinshots tools/skinshots.cpp)
target_link_libraries(tervolt_skinshots PRIVATE tervolt_shotsupport tervolt_dialogs tervolt_skin Qt6::Widgets)
tervolt_warnings(tervolt_skinshots)
