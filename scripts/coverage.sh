#!/usr/bin/env bash
# Line and branch coverage of the library and the tool by the whole test suite: builds
# with gcc's --coverage in build/coverage, runs ctest, and prints gcovr's summary (and
# writes build/coverage/coverage.txt with the figures per file).
#   usage: scripts/coverage.sh        (installs gcovr with apt-get when it is missing)
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v gcovr > /dev/null; then
    as_root=()
    [ "$(id -u)" -ne 0 ] && as_root=(sudo)
    "${as_root[@]}" apt-get install -y gcovr > /dev/null
fi
dir=build/coverage
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="--coverage -O0 -fprofile-update=atomic" \
    -DCMAKE_C_FLAGS="--coverage -O0 -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
    -DVEXO_BUILD_BENCH=OFF > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j "${VEXO_JOBS:-2}"
find "$dir" -name '*.gcda' -delete
(cd "$dir" && ctest -j "${VEXO_JOBS:-2}" > ctest.log 2>&1) || { tail -20 "$dir/ctest.log"; exit 1; }
filters=()
for folder in core model codec decode encode io lua diag cli; do filters+=(--filter "$PWD/$folder/"); done
gcovr --root . "${filters[@]}" --branches --txt "$dir/coverage.txt" --print-summary "$dir" | tail -3
