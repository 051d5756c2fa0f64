# CTest runs the Windows test programs under Wine (CMAKE_CROSSCOMPILING_EMULATOR). The first test
# makes the build's Wine prefix and starts a Wine server that stays up for the whole run, so that
# each test's start costs a fraction of a second instead of the server's start-up; the last test
# stops it. Every Wine test requires the fixture, so `ctest -R NAME` brings both along.
set(_zelk_wine_env WINEPREFIX=${ZELK_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
find_program(ZELK_WINESERVER NAMES wineserver wineserver64
             PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ZELK_WINESERVER NAMES wineserver wineserver64 REQUIRED)
# A server left over from an earlier run is stopped first: only one can serve the prefix.
add_test(NAME wine.start
  COMMAND ${CMAKE_COMMAND} -E env ${_zelk_wine_env} sh -c "\
    mkdir -p '${ZELK_WINEPREFIX}' && \
    { '${ZELK_WINESERVER}' -k 2>/dev/null; '${ZELK_WINESERVER}' -w; } && \
    '${ZELK_WINESERVER}' -p </dev/null >/dev/null 2>&1 && \
    '${PROJECT_SOURCE_DIR}/cmake/run-under-wine.sh' '${ZELK_WINEPREFIX}' cmd /c exit 0 \
      </dev/null >/dev/null 2>&1")
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
add_test(NAME wine.stop
  COMMAND ${CMAKE_COMMAND} -E env ${_zelk_wine_env} ${ZELK_WINESERVER} -k)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# A CTest test that runs a Windows program (a target, or a command line of one) under Wine.
function(zelk_wine_test name target)
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
endfunction()

# A CTest test that a shipped Windows program is statically linked and carries its version
# resource and manifest.
function(zelk_windows_program_check target)
  add_test(NAME windows.program.${target}
    COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-windows-program.sh ${CMAKE_OBJDUMP}
            $<TARGET_FILE:${target}>)
endfunction()
