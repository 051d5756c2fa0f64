# The Windows package folder, and the zip of it that `cpack -G ZIP` makes in the build folder:
# zelk-upgrade.exe in the root of a demo package laid out with the Windows names, with zelk-sim.exe
# beside it to run the demo on that package. The demo package's programs are placeholders.
add_executable(zelk-placeholder-tool ${CMAKE_CURRENT_LIST_DIR}/placeholder_tool.cpp)

set(_zelk_demo ${PROJECT_SOURCE_DIR}/examples/package)
install(TARGETS zelk-upgrade zelk-cli zelk-sim RUNTIME DESTINATION .)
install(FILES ${_zelk_demo}/CurrentVersion.txt DESTINATION .)
install(FILES ${_zelk_demo}/Tools/zelk.config DESTINATION Tools)
install(DIRECTORY ${_zelk_demo}/images DESTINATION .)
foreach(_zelk_program Tools/dfu-util.exe Drivers/libusbk/dpinst.exe Drivers/libusbk/dpinst_x64.exe)
  get_filename_component(_zelk_dir ${_zelk_program} DIRECTORY)
  get_filename_component(_zelk_name ${_zelk_program} NAME)
  install(PROGRAMS $<TARGET_FILE:zelk-placeholder-tool> DESTINATION ${_zelk_dir}
          RENAME ${_zelk_name})
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zelk-upgrade)
set(CPACK_PACKAGE_VENDOR ZELK)
set(CPACK_PACKAGE_FILE_NAME zelk-upgrade-${PROJECT_VERSION}-windows-x64)
# The zip's root is the package folder.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
