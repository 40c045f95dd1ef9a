# Cross-build for 64-bit Windows with MinGW-w64 on Debian; the programs and
# the tests run under Wine through the emulator wrapper.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model variant: std::thread and std::mutex need it.
set(TORMEL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${TORMEL_MINGW_PREFIX}-gcc-posix ${TORMEL_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TORMEL_MINGW_PREFIX}-g++-posix ${TORMEL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TORMEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TORMEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is one self-contained .exe: no MinGW runtime DLLs to ship.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs the test programs; the wrapper keeps its prefix inside the build
# folder and its debug output off.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
# Listing the tests of a program under Wine at build time would start Wine for
# every test program during the build; they are listed when ctest runs.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
