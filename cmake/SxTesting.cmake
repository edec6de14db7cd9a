# Test helpers shared by every folder.
#
# sx_add_gtest(name SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l] [NO_GTEST_MAIN])
#   One GoogleTest program, registered as one ctest that runs all its cases in
#   one process (under Wine in the win32 build, each start costs seconds).

if(BUILD_TESTING)
  if(SX_WIN32)
    # GoogleTest from the sources Debian ships, built with the cross compiler.
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    set(SX_GTEST_LIBS gtest)
    set(SX_GTEST_MAIN gtest_main)

    # One Wine prefix for the whole run, primed once.
    set(SX_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    add_test(NAME wine_prefix_setup
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prime.sh ${SX_WINEPREFIX})
    set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wineprefix TIMEOUT 300)
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
# build folder; in the win32 build the shared Wine prefix.
function(sx_test_environment test)
  if(SX_WIN32)
    set_tests_properties(${test} PROPERTIES
      FIXTURES_REQUIRED wineprefix
      ENVIRONMENT "WINEPREFIX=${SX_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
  else()
    set_tests_properties(${test} PROPERTIES
      ENVIRONMENT "SX_WINROOT=${CMAKE_BINARY_DIR}/test-winroot/${test}")
  endif()
endfunction()
