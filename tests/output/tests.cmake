# Little CMS is the oracle that opens and applies the profiles we write.
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::LCMS2)
  pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
endif()
target_link_libraries(${target} PRIVATE PkgConfig::LCMS2)
# The golden profiles are computed from test-made patch values: no fused
# multiply-add, so every compiler and machine makes the same bytes.
target_compile_options(${target} PRIVATE -ffp-contract=off)
# The golden logs are computed from synthetic target scans.
if(NOT TARGET calivant_synthetic_target)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/make-target ${PROJECT_BINARY_DIR}/tools/make-target)
endif()
target_link_libraries(${target} PRIVATE calivant_synthetic_target)
