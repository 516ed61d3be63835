# The wizard's tests drive the real windows on Qt's offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Test)
target_link_libraries(${target} PRIVATE calivant_gui Qt6::Test)
add_dependencies(${target} calivant_reference_files calivant_manual)
# Profiles are proposed in $XDG_DATA_HOME/icc, which saving creates: keep it
# out of the real home folder.
set(CALIVANT_TEST_PROPERTIES ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;XDG_DATA_HOME=${CMAKE_CURRENT_BINARY_DIR}/xdg-data")
