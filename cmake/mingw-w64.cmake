# Cross-build for 64-bit Windows with Debian's mingw-w64 (POSIX thread model, for std::thread),
# linked fully static so the programs run under Wine without any runtime DLLs beside them.
# ctest runs them through Wine in a scratch prefix inside the build folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The host's nlohmann headers are plain C++: CorvaneJson mirrors them into the build folder.
set(CORVANE_NLOHMANN_INCLUDE /usr/include CACHE PATH "nlohmann json headers")

# A prefix of our own keeps the tests away from ~/.wine; "-all" silences Wine's diagnostics.
set(CORVANE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
  env WINEDEBUG=-all WINEPREFIX=${CORVANE_WINEPREFIX} WINEDLLOVERRIDES=mscoree,mshtml= wine)
