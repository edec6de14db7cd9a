# The release: `cmake --install` of the win32 build lays the deliverables out
# as an installed player keeps them (the system data directory
# "Stellarix Player" with its "components" folder, one folder per component),
# stripped, each with its version information; the tools the installation
# needs go to "tools". scripts/package.sh writes the component index and
# checks the result.
#
# Natively there is nothing to release: the Linux build serves tests, tools
# and the demo.
if(NOT SX_WIN32)
  return()
endif()

set(SX_PRODUCT_VERSION 2.2.1)
set(SX_RELEASE_COMPONENTS "Stellarix Player/components")

if(NOT CMAKE_STRIP)
  find_program(CMAKE_STRIP NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-strip strip REQUIRED)
endif()

# Gives `target` (the file `file_name`) a version resource; the deliverables
# whose own resources carry one are left alone.
function(sx_version_info target file_name description)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(SX_VI_TYPE VFT_APP)
  else()
    set(SX_VI_TYPE VFT_DLL)
  endif()
  set(SX_VI_FILE ${file_name})
  get_filename_component(SX_VI_INTERNAL ${file_name} NAME_WE)
  set(SX_VI_DESCRIPTION "${description}")
  string(REPLACE "." ", " SX_VI_COMMAS "${SX_PRODUCT_VERSION}.0")
  set(SX_VI_DOTTED "${SX_PRODUCT_VERSION}.0")
  set(rc ${CMAKE_BINARY_DIR}/version_info/${target}.rc)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/version_info.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

sx_version_info(ruvane ruvane.dll "Stellarix 3D Player NURBS tessellation component")
sx_version_info(advertising advertising.dll "Stellarix 3D Player advertising component")
sx_version_info(skiffhook skiffhook.dll "Stellarix 3D Player applet file type install hook")
sx_version_info(purgehook purgehook.dll "Stellarix 3D Player Add/Remove Programs install hook")
sx_version_info(sxplayer sxplayer.exe "Stellarix 3D Player stand-in player")
sx_version_info(pixmill pixmill.dll "Stellarix 3D Player stand-in image component")
sx_version_info(sxinstall sxinstall.exe "Stellarix 3D Player component installer")

# The deliverables carry the smaller throw helpers and terminate handler of
# platform/win32/lean_runtime.cpp instead of the runtime's own; the test
# programs keep the runtime's.
set(sx_deliverables Stellarix3D ruvane skiffhook purgehook stellarix advertising uninstaller
                    sxplayer pixmill sxinstall)
foreach(target ${sx_deliverables})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win32/lean_runtime.cpp)
endforeach()
# The hooks also format through the system's C runtime (their formats are
# plain; see platform/win32/plain_format.cpp).
foreach(target skiffhook purgehook)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win32/plain_format.cpp)
endforeach()

# One file of the release: copied, then stripped in place.
function(sx_release target folder)
  set(destination "${SX_RELEASE_COMPONENTS}/${folder}")
  if(folder STREQUAL "tools")
    set(destination tools)
  endif()
  install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION "${destination}")
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-all
                  \"\${CMAKE_INSTALL_PREFIX}/${destination}/$<TARGET_FILE_NAME:${target}>\"
                  RESULT_VARIABLE status)
                if(NOT status EQUAL 0)
                  message(FATAL_ERROR \"cannot strip $<TARGET_FILE_NAME:${target}>\")
                endif()")
endfunction()

# The folders here are the relative paths the component index lists
# (road/components.sh); the two must agree.
sx_release(sxplayer player)
sx_release(Stellarix3D skiff)
sx_release(skiffhook skiff)
sx_release(ruvane ruvane)
sx_release(advertising advertising)
sx_release(pixmill pixmill)
sx_release(stellarix controlpanel)
sx_release(uninstaller Uninstall)
sx_release(purgehook Uninstall)
sx_release(sxinstall tools)
# The default picture, the legal text and the test applet are the samples'.
install(FILES ${PROJECT_SOURCE_DIR}/samples/ad.gif DESTINATION "${SX_RELEASE_COMPONENTS}/advertising"
        RENAME default_ad.gif)
install(FILES ${PROJECT_SOURCE_DIR}/samples/legal.txt DESTINATION "${SX_RELEASE_COMPONENTS}/legal")
install(FILES ${PROJECT_SOURCE_DIR}/samples/test_ball.sxvm
        DESTINATION "${SX_RELEASE_COMPONENTS}/controlpanel")

if(BUILD_TESTING)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  # Every deliverable names the product and its version in its own resources.
  set(sx_released ${sx_deliverables})
  # Each build is judged by its own target: the product is i386, the test
  # build for 64-bit Windows x86-64.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(sx_machine x86-64)
  else()
    set(sx_machine i386)
  endif()
  set(sx_files)
  foreach(target ${sx_released})
    list(APPEND sx_files $<TARGET_FILE:${target}>)
  endforeach()
  add_test(NAME release_version_info
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/road/check_release.py
                   --version ${SX_PRODUCT_VERSION} --machine ${sx_machine} ${sx_files})
  set_tests_properties(release_version_info PROPERTIES LABELS imports TIMEOUT 60)
  # The check must be able to fail: the import probe has no version resource.
  add_test(NAME release_version_info_probe
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/road/check_release.py
                   --version ${SX_PRODUCT_VERSION} --machine ${sx_machine}
                   $<TARGET_FILE:sx_imports_probe>)
  set_tests_properties(release_version_info_probe PROPERTIES LABELS imports TIMEOUT 60 WILL_FAIL ON)
  # And a deliverable over its size limit is caught, by its size alone.
  add_test(NAME release_size_limit_probe
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/road/check_release.py
                   --version ${SX_PRODUCT_VERSION} --machine ${sx_machine}
                   --limit skiffhook.dll=1000 $<TARGET_FILE:skiffhook>)
  set_tests_properties(release_size_limit_probe PROPERTIES LABELS imports TIMEOUT 60
                       PASS_REGULAR_EXPRESSION "FAULT: [0-9]+ bytes, more than its limit of 1000")
endif()

# The road under Wine opens applets through the shell with this helper.
if(BUILD_TESTING)
  add_executable(road_sxopen ${PROJECT_SOURCE_DIR}/road/testing/sxopen.cpp)
  set_target_properties(road_sxopen PROPERTIES OUTPUT_NAME sxopen)
  target_link_libraries(road_sxopen PRIVATE shell32 user32 comctl32)
endif()
