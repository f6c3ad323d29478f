# Cross-compiles the Windows build with MinGW-w64 in its POSIX thread model (GoogleTest needs
# std::mutex, which the win32 model lacks) and runs the resulting programs under Wine.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TREECOPY_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TREECOPY_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TREECOPY_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TREECOPY_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TREECOPY_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program is linked statically, so that it runs without the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest (and try_run) start each program through Wine: quiet, in a prefix of the build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-run)
