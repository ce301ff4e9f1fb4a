# Malformed-input corpora: image files through the readers and `tervolt-cli blocks`, broken device
# lists and stored COM settings. The data live in tests/corpus/.
tervolt_add_test(tst_corpus SOURCES tst_corpus.cpp LIBS tervolt_image Qt6::Core LABELS corpus)
add_dependencies(tst_corpus tervolt-cli)
# Named pipes, resource usage and the settings file are POSIX things.
if(NOT WIN32)
  tervolt_add_test(tst_corpus_devices SOURCES tst_corpus_devices.cpp
                   LIBS tervolt_devices tervolt_engine tervolt_image Qt6::Core LABELS corpus)
endif()
