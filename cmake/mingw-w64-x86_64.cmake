# Cross-builds visina.exe for 64-bit Windows with Debian's MinGW-w64 and runs
# it under Wine for the tests:
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Quiet, because the program's standard error must stay empty: without this,
# Debian's launcher writes a hint about 32-bit Wine there, and Wine its notes.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all wine)
