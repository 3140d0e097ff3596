# Cross-building for Windows with Debian's MinGW-w64: 32-bit (g++-mingw-w64-i686), the
# program we ship, unless the including file asks for 64-bit (g++-mingw-w64-x86-64), which
# only stands in for it under Wine on a machine that runs no 32-bit code. The programs are
# linked statically, so no MinGW runtime DLL has to travel with them, and CTest runs them
# under Wine.
if(NOT QV_MINGW_ARCH)
    set(QV_MINGW_ARCH i686)
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QV_MINGW_ARCH})

set(CMAKE_C_COMPILER ${QV_MINGW_ARCH}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${QV_MINGW_ARCH}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${QV_MINGW_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QV_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# What a program does not call is left out: the static runtime is most of its size.
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections -Wl,--tsaware")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
