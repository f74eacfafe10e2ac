#!/usr/bin/env bash
# Installs, builds and starts zevQ64N on the simulated board.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/check-build-folders.sh run-sim tools/run-sim.sh build-sim
tools/install-deps.sh
cmake -S . -B build-sim -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEV_BUILD_TESTS=OFF -DZEV_BUILD_BENCH=OFF >/dev/null
cmake --build build-sim -j"$(nproc)" --target zevQ64N
exec build-sim/zevQ64N --board=sim "$@"
