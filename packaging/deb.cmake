# The Debian package: the program, the udev rule with scripts that put it into effect, the manual
# pages of zelk-upgrade and zelk-cli with the JSON Schema of zelk-cli's lines, zelk-cli's bash
# completion, the README with the operator's and the line's guides (where its links find them),
# the copyright and changelog files.
# `cmake --workflow --preset deb` builds build/deb/zelk-upgrade_<version>_amd64.deb; dependencies
# come from the shared libraries.
set(_zelk_doc ${CMAKE_INSTALL_DATADIR}/doc/zelk-upgrade)
set(_zelk_gen ${CMAKE_CURRENT_BINARY_DIR}/packaging)

# Compressed as Debian policy wants them (gzip -9n: no name or time stamp inside), when CMake
# configures, so that building the program alone is enough for the package.
function(zelk_gzip source target)
  configure_file(${source} ${_zelk_gen}/${target} @ONLY)
  execute_process(COMMAND gzip -9nf -k ${_zelk_gen}/${target} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
set(VERSION ${PROJECT_VERSION})
zelk_gzip(${CMAKE_CURRENT_SOURCE_DIR}/packaging/zelk-upgrade.1 zelk-upgrade.1)
zelk_gzip(${CMAKE_CURRENT_SOURCE_DIR}/packaging/zelk-cli.1 zelk-cli.1)
zelk_gzip(${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/changelog changelog)

install(FILES ${_zelk_gen}/zelk-upgrade.1.gz ${_zelk_gen}/zelk-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The JSON Schema of zelk-cli --json's lines, which its manual page names: a program that reads
# them finds it where data files go, not among the documents a minimal system may leave out.
install(FILES packaging/zelk-cli-events.schema.json DESTINATION ${CMAKE_INSTALL_DATADIR}/zelk-upgrade)
install(FILES ${_zelk_gen}/changelog.gz packaging/debian/copyright DESTINATION ${_zelk_doc})
install(FILES README.md DESTINATION ${_zelk_doc})
install(FILES docs/operator-guide.md docs/line-guide.md DESTINATION ${_zelk_doc}/docs)
# bash-completion loads a command's completion from here when the command is first completed.
install(FILES packaging/bash-completion/zelk-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelk-upgrade)
set(CPACK_PACKAGE_VENDOR Orvanta)
set(CPACK_PACKAGE_CONTACT "Orvanta Support <support@orvanta.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade utility for the ZELK video-converter box")
# CPack puts the summary first; this is the extended description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "zelk-upgrade finds a ZELK box on the USB bus in any of its modes, restarts it\n\
into its bootloader, downloads the ARM firmware with the upgrade package's DFU\n\
tool, programs the FPGA and prints the box's diagnostics. The udev rule gives\n\
the logged-in user access to the box.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS dfu-util)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
