# Run by CPack before it packs: strips the programs and the Python module as a Debian build does
# (dh_strip), which also drops the .comment and .note sections that plain stripping keeps.
# One folder a package when the packages are made from components.
file(GLOB_RECURSE installed "${CPACK_TEMPORARY_DIRECTORY}/*")
set(programs ${installed})
list(FILTER programs INCLUDE REGEX "/usr/bin/[^/]+$")
if(NOT programs)
  message(FATAL_ERROR "no programs to strip under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  execute_process(COMMAND ${CPACK_TERVOLT_STRIP} --remove-section=.comment --remove-section=.note ${program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(modules ${installed})
list(FILTER modules INCLUDE REGEX "\\.so$")
foreach(module IN LISTS modules)
  execute_process(COMMAND ${CPACK_TERVOLT_STRIP} --strip-unneeded --remove-section=.comment
                          --remove-section=.note ${module} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
