#!/usr/bin/env bash
# End-to-end speed of "vexo decode --format json": a log of N lines (default 1,000,000)
# drawn at random from a corpus DBC's frames, decoded with the output sent to /dev/null.
# Prints lines per second for the best of three runs, and the time the database import
# alone takes (decoding an empty log).
#   usage: scripts/bench_decode.sh [DBC] [LINES]
#   env:   VEXO_CORPUS_DIR (default ../shared/corpus), VEXO_BENCH_DIR (default build/bench-decode),
#          VEXO_TOOL (another build of the tool to measure, e.g. an earlier revision's)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/bench_logs.sh
work=${VEXO_BENCH_DIR:-build/bench-decode}

vexo=${VEXO_TOOL:-build/release/cli/vexo}
if [ -z "${VEXO_TOOL:-}" ]; then
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build build/release -j "${VEXO_JOBS:-2}" --target vexo_cli > /dev/null
fi
mkdir -p "$work"
# Some containers have a plain file where the null device should be: writing the output
# into it costs a good part of the run.
[ -c /dev/null ] || echo "bench: /dev/null is not the null device here; the figures include writing a file" >&2
log=$work/$(basename "$dbc" .dbc).$lines.log
makeLog "$log" 20210101
[ "$(wc -l < "$log")" -eq "$lines" ] || { echo "bench: $log does not hold $lines lines" >&2; exit 1; }

seconds() {  # seconds that "$@" takes, output to /dev/null
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
import=$(seconds "$vexo" decode --format json "$dbc" /dev/null)
best=
for _ in 1 2 3; do
    t=$(seconds "$vexo" decode --format json "$dbc" "$log")
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
done
frames=$(grep -c '^BO_ ' "$dbc" || true)
echo "$(basename "$dbc") ($frames frames): $lines lines in $best s (import alone $import s):" \
     "$(awk -v n="$lines" -v t="$best" 'BEGIN { printf "%.0f", n / t }') lines/s"
