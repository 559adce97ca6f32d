#!/usr/bin/env bash
# Installs what is missing, builds into build/ and starts Resguarda with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
install_missing_packages "${RESGUARDA_PACKAGES[@]}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target resguarda
exec build/resguarda "$@"
