// calivant-scanner-cli: builds scanner and camera input profiles without a
// display, for batch work.

#include <CLI/CLI.hpp>

#include <iostream>

#include "cli_platform.h"

int main(int argc, char** argv) {
    CLI::App app{"Calivant - Scanner: builds ICC input profiles for scanners and digital cameras "
                 "from an image of a colour target.",
                 "calivant-scanner-cli"};
    app.set_version_flag("-V,--version", std::string("calivant-scanner-cli ") + CALIVANT_VERSION_TEXT);
    CLI11_PARSE(app, argc, argv);
    std::cout << app.help();
    return 0;
}
