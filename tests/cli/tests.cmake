# Black-box tests of the command line: they run the built executable on
# synthetic target scans.
if(TARGET calivant-scanner-cli)
  add_dependencies(${target} calivant-scanner-cli calivant_reference_files)
  target_compile_definitions(${target} PRIVATE CALIVANT_CLI_PATH="$<TARGET_FILE:calivant-scanner-cli>")
else()
  # Built without the command line: its tests fail instead of passing empty.
  target_compile_definitions(${target} PRIVATE CALIVANT_CLI_PATH="calivant-scanner-cli-was-not-built")
endif()
if(NOT TARGET calivant_synthetic_target)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tools/make-target ${PROJECT_BINARY_DIR}/tools/make-target)
endif()
target_link_libraries(${target} PRIVATE calivant_synthetic_target)
