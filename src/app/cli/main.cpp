// calivant-scanner-cli: builds scanner and camera input profiles without a
// display, for batch work.

#include <iostream>

#include "cli_app.h"

int main(int argc, char** argv) { return calivant::cli::runCli(argc, argv, std::cout, std::cerr); }
