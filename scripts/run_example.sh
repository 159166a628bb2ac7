#!/usr/bin/env bash
# Builds Vexo (installing its dependencies first) and runs the bundled example host
# program over the public C interface.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
mkdir -p build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build/release.configure.log 2>&1 \
    || { cat build/release.configure.log; exit 1; }
cmake --build build/release -j "${VEXO_JOBS:-2}" --target example_model
./build/release/examples/example_model
