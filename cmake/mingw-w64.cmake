# Cross-builds boardmon.exe for 64-bit Windows with Debian's mingw-w64 (posix thread model, which
# std::thread and the C++20 library need). Tests run under Wine.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BOARDMON_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BOARDMON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BOARDMON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BOARDMON_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${BOARDMON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime libraries go into each executable, so it needs no DLL that Windows does not ship
# (libgcc_s, libstdc++, libwinpthread).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Lets ctest and GoogleTest's test discovery run the Windows executables on this machine, in a
# quiet Wine prefix of the build tree's own (never the user's ~/.wine), without the Mono and
# Gecko installers, which nothing here needs.
find_program(BOARDMON_WINE NAMES wine wine64)
if(BOARDMON_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
      "WINEDLLOVERRIDES=mscoree,mshtml=" ${BOARDMON_WINE})
endif()
