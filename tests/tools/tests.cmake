# The synthetic target library and libtiff, which reads the written pictures
# back as an independent check; the make-target command is run as a black box.
if(NOT TARGET calivant_synthetic_target)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/make-target ${PROJECT_BINARY_DIR}/tools/make-target)
endif()
find_package(TIFF REQUIRED)
target_link_libraries(${target} PRIVATE calivant_synthetic_target TIFF::TIFF)
add_dependencies(${target} make-target calivant_reference_files)
target_compile_definitions(${target} PRIVATE MAKE_TARGET_PATH="$<TARGET_FILE:make-target>")
