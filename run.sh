#!/usr/bin/env bash
# Installs what is missing, builds the program and runs the command line.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

calivant_install_packages "${CALIVANT_BUILD_PACKAGES[@]}"
calivant_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALIVANT_BUILD_TESTS=OFF

./build/bin/calivant-scanner-cli --version
./build/bin/calivant-scanner-cli --help
