# The Debian package, made by `cpack` in a build folder (scripts/package does it all and checks it).

set(TERVOLT_PACKAGE_MAINTAINER "Tervolt Maintainers <maintainers@tervolt.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tervolt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR VELUM)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "program and verify the FLASH of a target board over a serial line")
# The long description; CPack indents it for the control file and marks the empty line.
set(CPACK_PACKAGE_DESCRIPTION
    "Tervolt talks to the monitor program of a target board over a serial line,\n"
    "identifies its FLASH chip against a list of supported devices and programs\n"
    "or verifies an Intel HEX or raw binary image in blocks, with progress,\n"
    "Retry/Cancel on every failed command and a clear outcome.\n"
    "\n"
    "The package holds the window (tervolt), a scriptable command line front end\n"
    "(tervolt-cli) and a simulated board on a pseudo-terminal (tervolt-sim) for\n"
    "trying everything without hardware.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped by a script of our own, as a Debian build strips (CPack's own stripping keeps .comment).
set(CPACK_TERVOLT_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/TervoltStripPackage.cmake)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TERVOLT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies are computed by dpkg-shlibdeps. Qt loads its platform plugins at run time,
# where dpkg-shlibdeps cannot see them; without them the window cannot open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The bash completion is only loaded by the bash-completion framework.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")

# The Python module is a package of its own, as Debian's Python policy has it: python3-tervolt, with
# its own copy of the device list, so that a station without a desktop needs no Qt Widgets.
if(TERVOLT_PYTHON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL tervolt python)
  set(CPACK_DEBIAN_TERVOLT_PACKAGE_NAME tervolt)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tervolt)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import sys; print('%d.%d' % sys.version_info[:2])"
                  OUTPUT_VARIABLE python_version OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "^3\\.([0-9]+)$" "\\1" python_minor ${python_version})
  math(EXPR python_next "${python_minor} + 1")
  # The extension is built for one Python version, as Debian's own extension packages are.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3 (>= ${python_version}~), python3 (<< 3.${python_next})")
  # tervolt-cli and the simulated board, for trying a script without hardware.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS "tervolt (= ${PROJECT_VERSION})")
  # Each package's own fields; the summary line is the one both share.
  set(CPACK_DEBIAN_TERVOLT_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
  set(CPACK_DEBIAN_TERVOLT_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}")
  set(CPACK_DEBIAN_TERVOLT_PACKAGE_RECOMMENDS "${CPACK_DEBIAN_PACKAGE_RECOMMENDS}")
  unset(CPACK_DEBIAN_PACKAGE_DEPENDS)
  unset(CPACK_DEBIAN_PACKAGE_RECOMMENDS)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION
      "This package holds the Python 3 module tervolt. It drives the boards that\n"
      "tervolt-cli drives, for test scripts and production stations: identify the\n"
      "FLASH chip, program and verify an image, with progress callbacks, an\n"
      "exception for every kind of failure, and many boards at once from threads.")
  string(REPLACE ";" "" CPACK_DEBIAN_PYTHON_DESCRIPTION "${CPACK_DEBIAN_PYTHON_DESCRIPTION}")
endif()

include(CPack)
