# Warnings for our own code only; Qt's generated sources keep their own rules. They become errors with
# TERVOLT_WERROR, which scripts/test and CI turn on; it stays off by default because distributions build
# with newer compilers, whose new warnings must not break a release build.
option(TERVOLT_WERROR "Treat warnings in Tervolt's own code as errors" OFF)
function(tervolt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(TERVOLT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A static library for one subsystem, with the project root on the include path. (Static rather than
# object libraries: archives merged from object libraries lose all but one moc compilation unit.)
function(tervolt_object_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  tervolt_warnings(${name})
endfunction()
