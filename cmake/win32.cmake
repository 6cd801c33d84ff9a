# The 32-bit Windows build: the system libraries the Win32 backend calls,
# GoogleTest built from source with the same toolchain, and what vorbex.exe
# carries beyond its code (version resource, no console window).
# Included by the top-level CMakeLists.txt in place of the posix packages.
if(NOT WIN32)
  return()
endif()

# The version resource is compiled by windres.
enable_language(RC)

# The Win32 backend: kernel32 and user32 come by default; the rest by name.
set(VORBEX_SYSTEM_LIBS advapi32 user32 shell32 ole32 oleaut32 uuid userenv version)

# The program's file version lives in the resource; it must match the project's.
file(STRINGS ${CMAKE_SOURCE_DIR}/platform/win32/version.rc vorbex_rc_version
     REGEX "^#define VORBEX_VERSION_TEXT ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" vorbex_rc_version "${vorbex_rc_version}")
if(NOT vorbex_rc_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "platform/win32/version.rc says ${vorbex_rc_version}, the project ${PROJECT_VERSION}")
endif()

# GoogleTest from Debian's source package, compiled for Windows.
set(VORBEX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the Windows build")
if(EXISTS ${VORBEX_GTEST_SOURCE}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${VORBEX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib IN ITEMS gtest gtest_main)
    if(TARGET ${lib} AND NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()

# vorbex.exe is a worker without a window: the GUI subsystem keeps a console
# from opening when it starts, and the version resource is its file version.
# The executable is defined after this file is read, hence the deferred call.
function(vorbex_win32_executable)
  if(TARGET vorbex)
    target_sources(vorbex PRIVATE ${CMAKE_SOURCE_DIR}/platform/win32/version.rc)
    set_target_properties(vorbex PROPERTIES WIN32_EXECUTABLE ON)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vorbex_win32_executable)

# The tests of the Win32 backend (tests/win32), run under Wine or on Windows.
# They start the stand-in libraries of tools/win32, built beside them.
# Test discovery runs the program, so it waits for CTest (and its Wine prefix).
# The tests share the machine's registry (a test key, the stand-in's COM
# registration), so they run one at a time.
function(vorbex_win32_tests)
  if(NOT TARGET GTest::gtest)
    return()
  endif()
  set(dir ${CMAKE_SOURCE_DIR}/tests/win32)
  add_executable(test_win32
    ${dir}/config_test.cpp
    ${dir}/desktop_test.cpp
    ${dir}/filesystem_test.cpp
    ${dir}/host_test.cpp
    ${dir}/main.cpp
    ${dir}/md5_test.cpp
    ${dir}/named_objects_test.cpp
    ${dir}/processes_test.cpp
    ${dir}/retry_test.cpp
    ${dir}/system_test.cpp
    ${dir}/tree_kill_test.cpp
    ${dir}/webpost_test.cpp
    ${dir}/win32_test_support.cpp)
  target_link_libraries(test_win32 PRIVATE vx_testsupport vx_platform GTest::gtest ws2_32)
  foreach(lib IN ITEMS KGnMD5 kWbPost)
    if(TARGET ${lib})
      add_dependencies(test_win32 ${lib})
    endif()
  endforeach()
  # An MD5 library that checks what the backend hands its second call.
  add_library(Md5Probe SHARED ${CMAKE_SOURCE_DIR}/tests/win32/md5_probe/md5_probe.cpp
              ${CMAKE_SOURCE_DIR}/tests/win32/md5_probe/md5_probe.def)
  set_target_properties(Md5Probe PROPERTIES PREFIX "")
  target_link_libraries(Md5Probe PRIVATE oleaut32)
  add_dependencies(test_win32 Md5Probe)
  gtest_discover_tests(test_win32 DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL vorbex_win32_tests)

# The logic suites (tests/context, run, prepare, scriptlog, report) on the Win32
# backend. Their sandbox is the machine's own drive C: and registry (see
# tests/support/sandbox_win32.cpp), so they run one at a time. The real MD5
# library is the stand-in DLL built beside them. A test program stands where
# vorbex.exe would and reads its own file version, so it carries the same
# version resource.
function(vorbex_win32_logic_tests target)
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/win32/version.rc)
  foreach(lib IN ITEMS KGnMD5)
    if(TARGET ${lib})
      add_dependencies(${target} ${lib})
    endif()
  endforeach()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endfunction()
