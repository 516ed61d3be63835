# Black-box tests of the command line: they run the built executable.
if(TARGET calivant-scanner-cli)
  add_dependencies(${target} calivant-scanner-cli)
  target_compile_definitions(${target} PRIVATE CALIVANT_CLI_PATH="$<TARGET_FILE:calivant-scanner-cli>")
endif()
