# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the "posix"
# thread model, so std::thread and std::mutex work):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# scripts/test-windows.sh does this and runs the tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELQORA_MINGW_TRIPLE x86_64-w64-mingw32)

find_program(CMAKE_CXX_COMPILER ${VELQORA_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER ${VELQORA_MINGW_TRIPLE}-gcc-posix)
find_program(CMAKE_RC_COMPILER ${VELQORA_MINGW_TRIPLE}-windres)

# Only the cross sysroot: the Linux system headers and libraries must never
# be picked up by the Windows build.
set(CMAKE_FIND_ROOT_PATH /usr/${VELQORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry the compiler's runtime (libstdc++, libgcc, winpthread), so
# they run from the build folder without copying MinGW's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Tests and tools run through Wine.
find_program(VELQORA_WINE wine)
if(VELQORA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELQORA_WINE})
endif()
