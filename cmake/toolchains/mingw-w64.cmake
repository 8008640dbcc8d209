# Cross build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix),
# the programs run under Wine. The -posix compilers use winpthreads, which gives
# std::thread, std::mutex and std::condition_variable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZANTH_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZANTH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZANTH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZANTH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZANTH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and gtest discovery run through Wine.
find_program(ZANTH_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZANTH_WINE})

# libgcc, libstdc++ and winpthreads go into every DLL and program, so that Wine
# needs no runtime DLLs from the cross compiler next to the executables.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic")
