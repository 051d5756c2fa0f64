# The Windows build's own pieces: Windows headers without their min/max macros, pugixml compiled
# from Debian's source package, GoogleTest from Debian's googletest sources, and Wine as the
# emulator through which CTest runs every Windows program.

# Windows 7 and later; the A and W calls are named explicitly, so UNICODE only chooses defaults.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)

# pugixml: the same version as Debian's libpugixml-dev, built from Debian's source package, so that
# the profile file reads exactly as on Linux.
set(ZELK_PUGIXML_SOURCE_DIR "${CMAKE_BINARY_DIR}/_deps/pugixml"
    CACHE PATH "pugixml's source (unpacked from Debian's source package when absent)")
if(NOT EXISTS "${ZELK_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
  message(STATUS "Fetching Debian's pugixml source into ${ZELK_PUGIXML_SOURCE_DIR}")
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-pugixml-source.sh ${ZELK_PUGIXML_SOURCE_DIR}
    RESULT_VARIABLE _zelk_fetch_result)
  if(NOT _zelk_fetch_result EQUAL 0)
    message(FATAL_ERROR "Could not unpack Debian's pugixml source (${_zelk_fetch_result})")
  endif()
endif()
add_library(zelk_pugixml STATIC "${ZELK_PUGIXML_SOURCE_DIR}/src/pugixml.cpp")
target_include_directories(zelk_pugixml SYSTEM PUBLIC "${ZELK_PUGIXML_SOURCE_DIR}/src")
# Third-party code: its own warnings are not ours to fix.
target_compile_options(zelk_pugixml PRIVATE -w)

# Every Windows program that CTest or a build step starts runs under Wine, in a prefix of the
# build's own.
set(ZELK_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(CMAKE_CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/cmake/run-under-wine.sh;${ZELK_WINEPREFIX}")

# The version resource and the application manifest (common controls 6, per-monitor DPI awareness)
# of a Windows program.
enable_language(RC)
function(zelk_windows_resources target description)
  set(ZELK_RC_DESCRIPTION "${description}")
  set(ZELK_RC_FILE_NAME "${target}.exe")
  set(ZELK_RC_MANIFEST "${PROJECT_SOURCE_DIR}/packaging/windows/zelk.manifest")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
endfunction()

# GoogleTest and GoogleMock from Debian's googletest sources, built with the cross compiler; our
# warning flags are not imposed on them.
function(zelk_windows_googletest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  get_directory_property(_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_options}")
endfunction()
