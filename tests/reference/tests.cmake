# The tests look for the built-in reference files where the program finds
# them in the build tree.
add_dependencies(${target} calivant_reference_files)

# Real reference files from a target maker are used where the project's
# shared data keeps them (beside the checkout), not copied into it.
get_filename_component(_shared_reference_dir "${PROJECT_SOURCE_DIR}/../shared/reference-data" ABSOLUTE)
target_compile_definitions(${target} PRIVATE CALIVANT_SHARED_REFERENCE_DIR="${_shared_reference_dir}")
