# Cross-compiling for Windows with Debian's MinGW-w64 (the posix thread variant, which has std::thread).
# Included by mingw-x86_64.cmake and mingw-i686.cmake after they set TERVOLT_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TERVOLT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TERVOLT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TERVOLT_MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the MinGW root and, when given, the Qt built for it.
set(CMAKE_FIND_ROOT_PATH /usr/${TERVOLT_MINGW_TRIPLET})
if(TERVOLT_QT_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TERVOLT_QT_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# try_compile projects get the same Qt root.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TERVOLT_QT_PREFIX)
