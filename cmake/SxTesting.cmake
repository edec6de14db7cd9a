# Test helpers shared by every folder.
#
# sx_add_gtest(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [DEPENDS targets]
#              [TIMEOUT s] [LABELS l] [NO_GTEST_MAIN])
#   One GoogleTest program, registered as one ctest that runs all its cases in
#   one process (under Wine in the win32 build, each start costs seconds).
#
# sx_windows_path_definition(target other MACRO)
#   Compiles `target` with MACRO defined as the Windows path ("Z:\...") of the
#   program or library `other` built in this tree, so that a test can start or
#   load it in both builds (drive Z: is the Linux root under Wine and in the
#   POSIX emulation alike). Call it after both targets are defined.
#
# sx_check_imports(target)
#   win32 build: a ctest that fails when the PE file of `target` imports a
#   MinGW runtime DLL (libgcc, libstdc++, libwinpthread, ...): a deliverable
#   must run with nothing beside it. It also names the newest Windows function
#   the file imports and fails when that is newer than SX_MIN_WINDOWS, the
#   oldest Windows the deliverables support. Does nothing natively.
#
# The win32 tests share one Wine prefix under the build folder. The fixture
# test `wine_prefix_setup` primes it once and starts a persistent wineserver
# for the run; `wine_prefix_cleanup` stops it. On a machine that cannot run
# the Windows programs at all (a kernel without 32-bit support, say), the
# setup records why, and every Wine test then reports itself skipped with that
# reason rather than passing or failing.

set(SX_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})
# Windows 2000 for the product; 64-bit Windows began with XP x64 (5.2).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(sx_min_windows 5.2)
else()
  set(sx_min_windows 5.0)
endif()
set(SX_MIN_WINDOWS ${sx_min_windows} CACHE STRING
    "Oldest Windows version (major.minor) the deliverables must load on")
# Exit status of cmake/wine-run.sh when Wine cannot run programs here.
set(SX_WINE_SKIP_CODE 77)

if(BUILD_TESTING)
  if(SX_WIN32)
    # GoogleTest from the sources Debian ships, built with the cross compiler.
    # It locks with its own Win32 mutexes; the Win32-thread runtime has no
    # std::mutex, which its Notification wants: ours comes first.
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    target_include_directories(gtest BEFORE PUBLIC ${SX_CMAKE_DIR}/gtest_win32)
    set(SX_GTEST_LIBS gtest)
    set(SX_GTEST_MAIN gtest_main)

    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(SX_WINE_BITS 64)
    else()
      set(SX_WINE_BITS 32)
    endif()
    set(SX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    add_test(NAME wine_prefix_setup
             COMMAND ${SX_CMAKE_DIR}/wine-prime.sh start ${SX_WINEPREFIX} ${SX_WINE_BITS})
    set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 300)
    add_test(NAME wine_prefix_cleanup
             COMMAND ${SX_CMAKE_DIR}/wine-prime.sh stop ${SX_WINEPREFIX} ${SX_WINE_BITS})
    set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wineprefix TIMEOUT 120)

    if(NOT CMAKE_OBJDUMP)
      find_program(CMAKE_OBJDUMP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump)
    endif()

    # The import check must be able to fail: a DLL linked the default way
    # imports the shared C++ runtime, and its check is expected to fail.
    add_library(sx_imports_probe SHARED ${SX_CMAKE_DIR}/imports_probe.cpp)
    set_target_properties(sx_imports_probe PROPERTIES LINK_OPTIONS "")
    # And a DLL linked as the deliverables are that calls a Vista and a
    # Windows 8 function must fail the version check.
    add_library(sx_windows_api_probe SHARED ${SX_CMAKE_DIR}/windows_api_probe.cpp)

    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
      # Every object of the 32-bit product computes with SSE2 (the toolchain
      # file sets the flags; a target option could undo them). The second
      # test shows the check can fail: one x87 source must be caught.
      add_test(NAME i686_sse2_flags
               COMMAND ${CMAKE_COMMAND} -DCOMPILE_COMMANDS=${CMAKE_BINARY_DIR}/compile_commands.json
                       -P ${SX_CMAKE_DIR}/check_sse2_flags.cmake)
      file(WRITE ${CMAKE_BINARY_DIR}/sse2_probe_commands.json
           "[{\"directory\": \"/\", \"file\": \"a.cpp\", \"command\": \"g++ -msse2 -mfpmath=sse -c a.cpp\"},\n"
           " {\"directory\": \"/\", \"file\": \"b.cpp\", \"command\": \"g++ -msse2 -mfpmath=sse -mfpmath=387 -c b.cpp\"}]\n")
      add_test(NAME i686_sse2_flags_probe
               COMMAND ${CMAKE_COMMAND} -DCOMPILE_COMMANDS=${CMAKE_BINARY_DIR}/sse2_probe_commands.json
                       -P ${SX_CMAKE_DIR}/check_sse2_flags.cmake)
      set_tests_properties(i686_sse2_flags_probe PROPERTIES WILL_FAIL ON)
    endif()
  else()
    find_package(GTest REQUIRED)
    set(SX_GTEST_LIBS GTest::gtest)
    set(SX_GTEST_MAIN GTest::gtest_main)
  endif()
endif()

function(sx_add_gtest name)
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(ARG "NO_GTEST_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS;DEPENDS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ${SX_GTEST_LIBS})
  if(NOT ARG_NO_GTEST_MAIN)
    target_link_libraries(${name} PRIVATE ${SX_GTEST_MAIN})
  endif()
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set(timeout 600)
  if(ARG_TIMEOUT)
    set(timeout ${ARG_TIMEOUT})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  sx_test_environment(${name})
endfunction()

# Environment every test needs: natively a private emulated Windows root per
# test; in the win32 build the shared Wine prefix. Also for tests added with a
# plain add_test whose command is a program of this build.
function(sx_test_environment test)
  if(SX_WIN32)
    set_tests_properties(${test} PROPERTIES
      FIXTURES_REQUIRED wineprefix
      SKIP_RETURN_CODE ${SX_WINE_SKIP_CODE}
      ENVIRONMENT "WINEPREFIX=${SX_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
  else()
    set_tests_properties(${test} PROPERTIES
      ENVIRONMENT "SX_WINROOT=${CMAKE_BINARY_DIR}/test-winroot/${test}")
  endif()
endfunction()

function(sx_windows_path_definition target other macro)
  get_target_property(type ${other} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(kind RUNTIME)
    set(prefix "")
    set(suffix ${CMAKE_EXECUTABLE_SUFFIX})
  elseif(type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    # A DLL is a runtime artifact on Windows, a library one elsewhere.
    if(SX_WIN32)
      set(kind RUNTIME)
    else()
      set(kind LIBRARY)
    endif()
    if(type STREQUAL "SHARED_LIBRARY")
      set(prefix ${CMAKE_SHARED_LIBRARY_PREFIX})
      set(suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
    else()
      set(prefix ${CMAKE_SHARED_MODULE_PREFIX})
      set(suffix ${CMAKE_SHARED_MODULE_SUFFIX})
    endif()
  else()
    message(FATAL_ERROR "sx_windows_path_definition: ${other} is neither a program nor a library")
  endif()
  get_target_property(dir ${other} ${kind}_OUTPUT_DIRECTORY)
  if(NOT dir)
    get_target_property(dir ${other} BINARY_DIR)
  endif()
  get_target_property(name ${other} OUTPUT_NAME)
  if(NOT name)
    set(name ${other})
  endif()
  foreach(property PREFIX SUFFIX)
    get_target_property(value ${other} ${property})
    if(NOT value STREQUAL "value-NOTFOUND")
      string(TOLOWER ${property} variable)
      set(${variable} "${value}")
    endif()
  endforeach()
  set(path "${dir}/${prefix}${name}${suffix}")
  string(REPLACE "/" "\\\\" windows_path "${path}")
  target_compile_definitions(${target} PRIVATE ${macro}="Z:${windows_path}")
  add_dependencies(${target} ${other})
endfunction()

function(sx_check_imports target)
  if(NOT SX_WIN32 OR NOT BUILD_TESTING)
    return()
  endif()
  add_test(NAME ${target}_imports
           COMMAND ${CMAKE_COMMAND} -DSX_OBJDUMP=${CMAKE_OBJDUMP}
                   -DSX_FILE=$<TARGET_FILE:${target}> -DSX_MIN_WINDOWS=${SX_MIN_WINDOWS}
                   -P ${SX_CMAKE_DIR}/SxCheckImports.cmake)
  set_tests_properties(${target}_imports PROPERTIES LABELS imports TIMEOUT 60)
endfunction()

if(BUILD_TESTING AND SX_WIN32)
  sx_check_imports(sx_imports_probe)
  set_tests_properties(sx_imports_probe_imports PROPERTIES
    PASS_REGULAR_EXPRESSION "forbidden imports: [^\n]*libstdc\\+\\+")
  sx_check_imports(sx_windows_api_probe)
  # Both named, each with its version: the runtime's own GetTickCount64 was
  # what kept every deliverable off Windows 2000 and XP.
  set_tests_properties(sx_windows_api_probe_imports PROPERTIES
    PASS_REGULAR_EXPRESSION
    "imports newer than [^\n]*GetSystemTimePreciseAsFileTime \\(Windows 8\\)[^\n]*GetTickCount64 \\(Windows Vista\\)|imports newer than [^\n]*GetTickCount64 \\(Windows Vista\\)[^\n]*GetSystemTimePreciseAsFileTime \\(Windows 8\\)")
endif()
