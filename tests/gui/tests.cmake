# The wizard's tests drive the real windows on Qt's offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Test)
target_link_libraries(${target} PRIVATE calivant_gui Qt6::Test)
add_dependencies(${target} calivant_reference_files calivant_manual)
set(CALIVANT_TEST_PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
