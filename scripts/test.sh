#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: native (plain and under sanitizers),
# the Windows build under Wine, and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
for preset in linux-asan linux windows; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset"
done

if [ -f cmake/Fuzz.cmake ]; then
    echo "=== fuzz"
    bash scripts/fuzz.sh
fi
