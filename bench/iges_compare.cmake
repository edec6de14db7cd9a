# iges-compare: ruvane's IGES reader and model mesher against OpenCASCADE's
# (bench/iges_compare.sh); built with -DSX_BENCH_OCCT=ON on the native build.
if(SX_WIN32 OR NOT TARGET ruvane_model_mesh OR NOT TARGET ruvane)
  return()
endif()
find_package(OpenCASCADE CONFIG REQUIRED)
add_executable(iges_compare ${CMAKE_CURRENT_LIST_DIR}/iges_compare.cpp)
set_target_properties(iges_compare PROPERTIES OUTPUT_NAME iges-compare)
target_include_directories(iges_compare SYSTEM PRIVATE ${OpenCASCADE_INCLUDE_DIR})
if(NOT EXISTS ${OpenCASCADE_INCLUDE_DIR}/NCollection_AliasedArray.hxx)
  target_include_directories(iges_compare SYSTEM PRIVATE ${CMAKE_CURRENT_LIST_DIR}/occt_compat)
endif()
target_link_libraries(iges_compare PRIVATE ruvane_model_mesh ruvane
  TKernel TKMath TKG2d TKG3d TKGeomBase TKBRep TKGeomAlgo TKTopAlgo TKShHealing TKMesh
  TKXSBase TKIGES)

# iges-render: the pictures of meshed models in docs/.
find_path(SX_STB_RENDER_DIR stb_image_write.h PATHS /usr/include/stb NO_DEFAULT_PATH)
if(SX_STB_RENDER_DIR)
  add_executable(iges_render ${CMAKE_CURRENT_LIST_DIR}/iges_render.cpp)
  set_target_properties(iges_render PROPERTIES OUTPUT_NAME iges-render)
  target_include_directories(iges_render SYSTEM PRIVATE ${SX_STB_RENDER_DIR})
  target_link_libraries(iges_render PRIVATE ruvane_model_mesh ruvane)
endif()

# iges-models: writes the sample models of iges/samples/.
add_executable(iges_models ${CMAKE_CURRENT_LIST_DIR}/iges_models.cpp)
set_target_properties(iges_models PROPERTIES OUTPUT_NAME iges-models)
target_include_directories(iges_models SYSTEM PRIVATE ${OpenCASCADE_INCLUDE_DIR})
target_include_directories(iges_models PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(iges_models PRIVATE TKernel TKMath TKG2d TKG3d TKGeomBase TKBRep TKGeomAlgo
  TKTopAlgo TKPrim TKBO TKFillet TKShHealing TKXSBase TKIGES)
