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

include(CPack)
