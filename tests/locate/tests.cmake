# Real photographs of charts are read from the shared data beside the
# checkout, never copied into it.
get_filename_component(_shared_photos_dir "${PROJECT_SOURCE_DIR}/../shared/real-photos" ABSOLUTE)
target_compile_definitions(${target} PRIVATE CALIVANT_REAL_PHOTOS_DIR="${_shared_photos_dir}")
add_dependencies(${target} calivant_reference_files)
