# The comparison with OpenCASCADE's mesher (occt-compare), built only with
# -DSX_BENCH_OCCT=ON on the native build. The kernel comes from Debian's
# libocct-*-dev packages, which bench/occt_run.sh installs; neither the
# product nor its tests need it.
if(SX_WIN32 OR NOT TARGET ruvane)
  message(STATUS "occt-compare: needs the native build with ruvane")
  return()
endif()
find_package(OpenCASCADE CONFIG REQUIRED)

set(occt_bench_libraries
  TKernel TKMath TKG2d TKG3d TKGeomBase TKBRep TKGeomAlgo TKTopAlgo TKPrim TKBO TKBool
  TKFillet TKOffset TKShHealing TKMesh)

add_library(occt_bench_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/occt_measure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/occt_export.cpp
  ${CMAKE_CURRENT_LIST_DIR}/occt_models.cpp
  ${CMAKE_CURRENT_LIST_DIR}/occt_meshers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/occt_report.cpp)
target_include_directories(occt_bench_core PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_include_directories(occt_bench_core SYSTEM PUBLIC ${OpenCASCADE_INCLUDE_DIR})
if(NOT EXISTS ${OpenCASCADE_INCLUDE_DIR}/NCollection_AliasedArray.hxx)
  # Missing from Debian's 7.6.3 packages; see the stand-in's comment.
  target_include_directories(occt_bench_core SYSTEM PUBLIC ${CMAKE_CURRENT_LIST_DIR}/occt_compat)
endif()
target_link_libraries(occt_bench_core PUBLIC ${occt_bench_libraries} ruvane)
# The side-by-side pictures of one face's meshes.
find_path(SX_STB_OCCT_DIR stb_image_write.h PATHS /usr/include/stb NO_DEFAULT_PATH REQUIRED)
target_include_directories(occt_bench_core SYSTEM PRIVATE ${SX_STB_OCCT_DIR})
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/occt_meshers.cpp PROPERTIES
  COMPILE_DEFINITIONS STB_IMAGE_WRITE_IMPLEMENTATION)

add_executable(occt_compare ${CMAKE_CURRENT_LIST_DIR}/occt_compare.cpp)
set_target_properties(occt_compare PROPERTIES OUTPUT_NAME occt-compare)
# Through the shared library, as a player uses it.
target_link_libraries(occt_compare PRIVATE occt_bench_core ruvane)

sx_add_gtest(occt_measure_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/occt_measure_test.cpp
  LIBS occt_bench_core ruvane)
if(TARGET occt_measure_test)
  target_include_directories(occt_measure_test SYSTEM PRIVATE ${SX_STB_OCCT_DIR})
endif()

# One curve point against Geom_BSplineCurve::D0 (occt-curve-compare).
add_executable(occt_curve_compare ${CMAKE_CURRENT_LIST_DIR}/occt_curve_compare.cpp)
set_target_properties(occt_curve_compare PROPERTIES OUTPUT_NAME occt-curve-compare)
target_include_directories(occt_curve_compare PRIVATE ${PROJECT_SOURCE_DIR})
target_include_directories(occt_curve_compare SYSTEM PRIVATE ${OpenCASCADE_INCLUDE_DIR})
target_link_libraries(occt_curve_compare PRIVATE TKernel TKMath TKG3d ruvane)

# Every face of the models as a ruvane-tess input file (occt-export-faces).
add_executable(occt_export_faces ${CMAKE_CURRENT_LIST_DIR}/occt_export_faces.cpp)
set_target_properties(occt_export_faces PROPERTIES OUTPUT_NAME occt-export-faces)
target_link_libraries(occt_export_faces PRIVATE occt_bench_core)
