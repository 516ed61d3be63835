# The setup actions read the built-in reference files where the program finds
# them in the build tree.
add_dependencies(${target} calivant_reference_files)
