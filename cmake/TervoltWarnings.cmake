# Warnings are errors for our own code only; Qt's generated sources keep their own rules.
function(tervolt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# A static library for one subsystem, with the project root on the include path. (Static rather than
# object libraries: archives merged from object libraries lose all but one moc compilation unit.)
function(tervolt_object_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  tervolt_warnings(${name})
endfunction()
