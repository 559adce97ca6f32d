#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test.
#   ./test.sh            ordinary build
#   ./test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
install_missing_packages "${RESGUARDA_PACKAGES[@]}"

build_dir=build
# Warnings fail the test builds (and so CI), never a user's ./run.sh.
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESGUARDA_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-asan
  options+=(-DRESGUARDA_SANITIZE=ON)
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
  # The benchmarks are built too, so that a change never leaves them behind.
  options+=(-DRESGUARDA_BENCH=ON)
fi

cmake -S . -B "$build_dir" -G Ninja "${options[@]}"
cmake --build "$build_dir" -j "$(nproc)"
cd "$build_dir"
ctest --output-on-failure -j "$(nproc)" --timeout 300 </dev/null
