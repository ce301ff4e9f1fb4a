# 32-bit Windows with MinGW-w64 (the original's target). Pass -DTERVOLT_QT_PREFIX=<Qt built for it>.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TERVOLT_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
