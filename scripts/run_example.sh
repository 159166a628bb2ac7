#!/usr/bin/env bash
# Builds Vexo and its command-line tool (installing the dependencies first) and decodes
# the bundled example: a ten-second candump log of a small car's CAN network
# (examples/vehicle.log) through its DBC file (examples/vehicle.dbc). The first frames
# are shown; the whole decoded log is written to build/vehicle-decoded.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build/release.configure.log 2>&1 \
    || { cat build/release.configure.log; exit 1; }
cmake --build build/release -j "${VEXO_JOBS:-2}" --target vexo_cli
vexo=build/release/cli/vexo
echo "\$ $vexo decode examples/vehicle.dbc examples/vehicle.log"
"$vexo" decode examples/vehicle.dbc examples/vehicle.log > build/vehicle-decoded.txt
head -n 24 build/vehicle-decoded.txt
echo "... $(grep -c '^(' build/vehicle-decoded.txt) frames decoded; all of them in build/vehicle-decoded.txt"
