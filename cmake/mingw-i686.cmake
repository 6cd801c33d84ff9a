# Toolchain for the 32-bit Windows build: mingw-w64's i686 compilers.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VORBEX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# Built programs run under Wine: test discovery and CTest start them through it.
find_program(VORBEX_WINE wine)
if(VORBEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORBEX_WINE})
endif()
