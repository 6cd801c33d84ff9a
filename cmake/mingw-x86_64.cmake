# Toolchain for the 64-bit Windows build: mingw-w64's x86_64 compilers. It
# exists so that the Windows suites can run where 32-bit programs cannot
# (the 64-bit path of scripts/test-windows); the program that ships is the
# 32-bit one.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VORBEX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# Built programs run under 64-bit Wine, named outright: Debian's `wine`
# would start the 32-bit loader wherever wine32 is installed.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine64/wine)
