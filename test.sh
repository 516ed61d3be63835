#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# build with g++, and a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer that also runs the fuzz targets briefly.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

FUZZ_SECONDS=${FUZZ_SECONDS:-5}

calivant_install_packages "${CALIVANT_BUILD_PACKAGES[@]}" "${CALIVANT_CHECK_PACKAGES[@]}"

./scripts/check-layering.sh

echo "=== Normal build ==="
# run.sh configures the same folder without tests: switch them back on here.
calivant_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCALIVANT_BUILD_TESTS=ON -DCALIVANT_BUILD_GUI=ON
ctest --test-dir build --output-on-failure --no-tests=error -j "$(nproc)"

echo "=== Install and package checks ==="
scripts/check-install.sh build

echo "=== Sanitizer build (ASan + UBSan) ==="
calivant_build build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-O1 -g" -DCALIVANT_SANITIZE=ON -DCALIVANT_BUILD_FUZZ=ON -DCALIVANT_BUILD_GUI=ON \
  -DCALIVANT_BUILD_TESTS=ON
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build-asan --output-on-failure --no-tests=error -j "$(nproc)"

echo "=== Fuzz smoke checks (${FUZZ_SECONDS}s each) ==="
for fuzzer in build-asan/bin/*_fuzz; do
  name=$(basename "$fuzzer")
  work=$(mktemp -d)
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  echo "--- $name"
  # Replay the committed crash inputs first: each must now pass.
  if [ -d "fuzz/regressions/$name" ] && [ -n "$(ls -A "fuzz/regressions/$name")" ]; then
    "$fuzzer" "fuzz/regressions/$name"/* >"$work/replay.log" 2>&1 || { cat "$work/replay.log"; exit 1; }
  fi
  mkdir -p "$work/corpus"
  "$fuzzer" -max_total_time="$FUZZ_SECONDS" -artifact_prefix="$work/" "$work/corpus" "${seeds[@]}" \
    >"$work/fuzz.log" 2>&1 || {
    tail -n 60 "$work/fuzz.log"
    mkdir -p fuzz-failures && cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* fuzz-failures/ 2>/dev/null || true
    exit 1
  }
  tail -n 1 "$work/fuzz.log"
  rm -rf "$work"
done
echo "All tests passed."
