#!/usr/bin/env bash
# Builds and runs every test. Presets: default (optimised) and asan
# (AddressSanitizer + UndefinedBehaviorSanitizer); with no argument, default.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
sonadec_need_packages "${SONADEC_BUILD_PACKAGES[@]}"
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default)
jobs=$(nproc 2>/dev/null || echo 2)
for preset in "${presets[@]}"; do
    echo "== preset $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
