tervolt_add_test(tst_simmonitor SOURCES tst_simmonitor.cpp
                 LIBS tervolt_simdump tervolt_image tervolt_simmodel Qt6::Core)
# The end-to-end cases start the real program.
add_dependencies(tst_simmonitor tervolt-sim)
