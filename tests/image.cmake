# Image readers and writers.
# It shows the image error box, so it is a window test.
tervolt_add_test(tst_hexfiles SOURCES tst_hexfiles.cpp LIBS tervolt_image tervolt_image_ui Qt6::Widgets Qt6::Core
                 LABELS gui)
tervolt_add_test(tst_hexfiles_peer SOURCES tst_hexfiles_peer.cpp LIBS tervolt_image Qt6::Core)
