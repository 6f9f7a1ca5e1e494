# Cross-compiles Vantrel for 64-bit Windows with Debian's mingw-w64 (posix threads, so the
# standard library's std::thread and std::mutex are there). The runtime is linked in statically:
# the programs need no DLL beside them. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VANTREL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VANTREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTREL_MINGW_PREFIX}-windres)
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Look for headers and libraries only in the target's tree; build tools come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VANTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Through a wrapper that keeps what the tests start away from ctest's pipes (see the script).
find_program(VANTREL_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-test)
