# Cross-builds the Windows programs with Debian's MinGW-w64 compilers (the posix thread model, so
# that std::thread and std::mutex are there). Everything is linked statically: the .exe files need
# no DLL beside them, only what every Windows has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELK_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
