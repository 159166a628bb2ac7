#!/usr/bin/env bash
# Speed of the Python package: decode_log of a log of N lines (default 1,000,000) drawn at
# random from a corpus DBC's frames into a DataFrame (wide and long, best of three), and
# the Dask run over 8 such logs on a local cluster of 2 worker processes against one
# process decoding them one after the other (both reduce to per-signal means, so that
# only the decoding is compared).
#   usage: scripts/bench_python.sh [DBC] [LINES]
#   env:   VEXO_CORPUS_DIR (default ../shared/corpus), VEXO_BENCH_DIR (default build/bench-python)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench_logs.sh
work=${VEXO_BENCH_DIR:-build/bench-python}

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/release -j "${VEXO_JOBS:-2}" --target vexo > /dev/null
mkdir -p "$work"
logs=()
for i in 1 2 3 4 5 6 7 8; do
    log=$work/$(basename "$dbc" .dbc).$lines.$i.log
    makeLog "$log" $((20210100 + i))
    logs+=("$log")
done

export PYTHONPATH=$PWD/python VEXO_LIBRARY=$PWD/build/release/libvexo.so
/usr/bin/python3 scripts/bench_python.py "$dbc" "${logs[@]}"
