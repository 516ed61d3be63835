# The synthetic target library, and libtiff to confirm the options its
# pictures were written with.
if(NOT TARGET calivant_synthetic_target)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/make-target ${PROJECT_BINARY_DIR}/tools/make-target)
endif()
find_package(TIFF REQUIRED)
target_link_libraries(${target} PRIVATE calivant_synthetic_target TIFF::TIFF)
add_dependencies(${target} calivant_reference_files)
