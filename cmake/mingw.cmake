# The part of the Windows toolchains that does not depend on the processor;
# cmake/mingw-i686.cmake and cmake/mingw-x86_64.cmake set VORBEX_MINGW_PREFIX
# and the processor, then include this file.
# Everything the program needs from the compiler's runtime is linked in
# statically, so vorbex.exe needs no DLL beyond the system's own.
set(CMAKE_SYSTEM_NAME Windows)

# The compilers of the posix thread model: with the win32 model, GCC 12's
# libstdc++ has no std::mutex or std::thread, which GoogleTest needs.
# winpthread is linked in statically like the rest of the runtime.
find_program(VORBEX_MINGW_GXX NAMES ${VORBEX_MINGW_PREFIX}-g++-posix ${VORBEX_MINGW_PREFIX}-g++)
find_program(VORBEX_MINGW_GCC NAMES ${VORBEX_MINGW_PREFIX}-gcc-posix ${VORBEX_MINGW_PREFIX}-gcc)
set(CMAKE_C_COMPILER ${VORBEX_MINGW_GCC})
set(CMAKE_CXX_COMPILER ${VORBEX_MINGW_GXX})
set(CMAKE_RC_COMPILER ${VORBEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORBEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
