# Every committed fuzz input (fuzz/corpus/<harness>/) replayed through its harness's entry function,
# built with the normal compiler and without libFuzzer: one test program per harness.
function(tervolt_fuzz_replay harness)
  cmake_parse_arguments(R "" "" "SOURCES;LIBS" ${ARGN})
  set(sources ${PROJECT_SOURCE_DIR}/fuzz/replaymain.cpp ${PROJECT_SOURCE_DIR}/fuzz/fuzz_${harness}.cpp)
  foreach(source IN LISTS R_SOURCES)
    list(APPEND sources ${PROJECT_SOURCE_DIR}/${source})
  endforeach()
  tervolt_add_test(tst_fuzzreplay_${harness} SOURCES ${sources} LIBS ${R_LIBS} Qt6::Core LABELS fuzzreplay)
  target_compile_definitions(tst_fuzzreplay_${harness} PRIVATE TERVOLT_FUZZ_HARNESS="${harness}")
endfunction()

tervolt_fuzz_replay(replyframing LIBS tervolt_serial)
tervolt_fuzz_replay(replyscan LIBS tervolt_protocol tervolt_serial)
tervolt_fuzz_replay(startaddress LIBS tervolt_engine tervolt_image)
tervolt_fuzz_replay(telnetstream LIBS tervolt_serial)
# The file-reading harnesses feed a memfd, which only Linux has.
if(NOT WIN32)
  tervolt_fuzz_replay(intelhex SOURCES fuzz/memoryfile.cpp LIBS tervolt_image)
  tervolt_fuzz_replay(binaryimage SOURCES fuzz/memoryfile.cpp LIBS tervolt_image)
  tervolt_fuzz_replay(srecord SOURCES fuzz/memoryfile.cpp LIBS tervolt_image)
  tervolt_fuzz_replay(elfimage SOURCES fuzz/memoryfile.cpp LIBS tervolt_image)
  tervolt_fuzz_replay(devicelist SOURCES fuzz/memoryfile.cpp LIBS tervolt_devices)
endif()
# The simulated run's schedules; the simulation needs the monitor model, which the Linux build has.
if(TARGET tervolt_detsim)
  tervolt_fuzz_replay(schedule LIBS tervolt_detsim)
endif()
