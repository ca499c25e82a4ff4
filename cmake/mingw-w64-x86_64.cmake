# Cross build for 64-bit Windows with MinGW-w64 (posix threads), tested under Wine.
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RIVAK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${RIVAK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RIVAK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${RIVAK_MINGW}-windres)
# Resource scripts are UTF-8 (Japanese captions and version record).
set(CMAKE_RC_FLAGS_INIT "-c 65001")

set(CMAKE_FIND_ROOT_PATH /usr/${RIVAK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Fully static executables: no libstdc++/libgcc/winpthread DLL has to travel
# with them or be found by Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest (and try_run) start the programs through Wine; the wrapper picks the
# build tree's private prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
