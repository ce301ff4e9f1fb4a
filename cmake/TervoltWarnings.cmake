# Warnings are errors for our own code only; Qt's generated sources keep their own rules.
function(tervolt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# An object library for one subsystem, with the project root on the include path.
function(tervolt_object_library name)
  add_library(${name} OBJECT ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  tervolt_warnings(${name})
endfunction()
