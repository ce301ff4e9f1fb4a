# Windows x86-64 with MinGW-w64. Pass -DTERVOLT_QT_PREFIX=<Qt built for this target>.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TERVOLT_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
