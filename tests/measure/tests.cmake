# Synthetic target scans from tools/make-target, read back through our own
# TIFF reader.
if(NOT TARGET calivant_synthetic_target)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/make-target ${PROJECT_BINARY_DIR}/tools/make-target)
endif()
target_link_libraries(${target} PRIVATE calivant_synthetic_target)
add_dependencies(${target} calivant_reference_files)
