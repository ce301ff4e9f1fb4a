# The COM settings window over real pseudo-terminals, mapped as COM ports in a private settings file.
tervolt_add_test(tst_comminterface SOURCES tst_comminterface.cpp
                 LIBS tervolt_comdialog tervolt_protocol tervolt_serial tervolt_dialogs tervolt_skin
                      Qt6::Widgets LABELS gui serial)
