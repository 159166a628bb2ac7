#!/usr/bin/env bash
# Decoding and encoding speed on corpus models imported as users import them, in one table:
# frames per second (median of 5 runs over 1,000,000 frames drawn uniformly from the DBC's
# frames with random payloads, fixed seed) and instructions per frame (callgrind, 100,000
# frames, the timed loop alone) for the stepwise functions, the batch decoder and encoding;
# Vexo_importFile of two large corpus DBCs (median milliseconds of 21 imports, and
# instructions under callgrind; the first import of a fresh process, and the page faults
# of the imports after it); 100,000 scattered inserts into one group (bench/database_bench);
# the peak memory an import of the largest corpus DBC adds to an empty process; and, when
# the tool is built, "vexo decode --format json" of a 1,000,000-line log (scripts/bench_decode.sh).
#   usage: scripts/bench_frames.sh [--before REV | --before-tree DIR]
#   --before REV       also measures the library and tool of git revision REV (built from
#                      `git archive` under build/bench-before), for a before/after table
#   --before-tree DIR  the same with a source tree of the earlier revision that is
#                      already built in DIR/build/release (targets vexo and vexo_cli)
#   env: VEXO_CORPUS_DIR (default ../shared/corpus), VEXO_JOBS (default 2),
#        VEXO_BENCH_FRAMES (default 1000000), VEXO_BENCH_CALLGRIND_FRAMES (default 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${VEXO_CORPUS_DIR:-../shared/corpus}
jobs=${VEXO_JOBS:-2}
frames=${VEXO_BENCH_FRAMES:-1000000}
counted=${VEXO_BENCH_CALLGRIND_FRAMES:-100000}
before= before_tree=
if [ "${1:-}" = "--before" ]; then
    before=${2:?"--before needs a revision"}
elif [ "${1:-}" = "--before-tree" ]; then
    before_tree=${2:?"--before-tree needs a folder"}
fi
gm=$corpus/dbc/opendbc__gm_global_a_lowspeed_1818125.dbc
ford=$corpus/dbc/opendbc__ford_cgea1_2_ptcan_2011.dbc
hyundai=$corpus/dbc/opendbc__hyundai_2015_ccan.dbc
largest=$corpus/dbc/opendbc__ford_lincoln_base_pt.dbc
cadillac=$corpus/dbc/opendbc__cadillac_ct6_object.dbc
for f in "$ford" "$hyundai" "$largest"; do
    [ -f "$f" ] || { echo "bench: no corpus file $f" >&2; exit 1; }
done

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/release -j "$jobs" --target frame_rates database_bench vexo_cli > /dev/null
after_bin=build/release/bench/frame_rates

before_bin= before_vexo=
if [ -n "$before" ] || [ -n "$before_tree" ]; then
    if [ -n "$before" ]; then
        src=build/bench-before/src
        built=build/bench-before/build
        rm -rf build/bench-before && mkdir -p "$src"
        git archive "$before" | tar -x -C "$src"
        cmake -S "$src" -B "$built" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DVEXO_BUILD_TESTS=OFF -DVEXO_BUILD_BENCH=OFF > /dev/null
        cmake --build "$built" -j "$jobs" --target vexo vexo_cli > /dev/null
    else
        src=$before_tree
        built=$before_tree/build/release
    fi
    mkdir -p build/bench-before
    before_bin=build/bench-before/frame_rates
    [ -x "$built/cli/vexo" ] && before_vexo=$built/cli/vexo
    lib=$(dirname "$(find "$built" -name 'libvexo.so' | head -1)")
    # A library without Vexo_encodeSignals is measured without that mode.
    older=
    grep -q Vexo_encodeSignals "$src/include/vexo/encode.h" || older=-DFRAME_RATES_STEPWISE_ENCODE_ONLY
    c++ -O2 -g -std=c++17 $older -I "$src/include" bench/frame_rates.cpp -o "$before_bin" -L "$lib" -lvexo \
        -Wl,-rpath,"$(cd "$lib" && pwd)"
fi

# frames/s of one mode (median of 5 runs); "-" when the program lacks the mode.
rate() {
    local out
    out=$("$1" "$2" "$3" "$frames" 5 2> /dev/null) || { echo "-"; return; }
    sed -E 's/.*frames_per_s=([0-9]+).*/\1/' <<< "$out" | awk '{ printf "%.2f M/s", $1 / 1e6 }'
}

# instructions per frame of one mode under callgrind (the timed loop alone).
instructions() {
    command -v valgrind > /dev/null || { echo "-"; return; }
    local log
    log=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect='*timed*' \
        "$1" "$2" "$3" "$counted" 1 2>&1 > /dev/null) || { echo "-"; return; }
    sed -nE 's/.*Collected : ([0-9]+).*/\1/p' <<< "$log" | awk -v n="$counted" '{ printf "%.0f", $1 / n }'
}

# Milliseconds per import (median of 21) and instructions of one Vexo_importFile call.
import_row() {  # label program dbc
    local ms instr=-
    ms=$("$2" import-time "$3" 0 21 2> /dev/null | sed -nE 's/.*ms_per_import=([0-9.]+).*/\1 ms/p') || ms=-
    if command -v valgrind > /dev/null; then
        instr=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --toggle-collect=Vexo_importFile \
            "$2" import "$3" 2>&1 > /dev/null | sed -nE 's/.*Collected : ([0-9]+).*/\1/p' \
            | awk '{ printf "%.0f M", $1 / 1e6 }')
    fi
    echo "${ms:--} ${instr:--}"
}

# The first import in a fresh process (median of 5 processes, milliseconds), and the page
# faults of each import after the first (the 21-import run against a one-import run): pages
# that an import touches afresh, which cost some microseconds each on a virtual machine.
first_import() {  # program dbc
    local runs=() i
    for i in 1 2 3 4 5; do
        runs+=("$("$1" import-time "$2" 0 1 2> /dev/null | sed -nE 's/.*ms_per_import=([0-9.]+).*/\1/p')")
    done
    printf '%s\n' "${runs[@]}" | sort -n | sed -n 3p | awk '{ printf "%s ms", $1 }'
}
faults_per_import() {  # program dbc
    local one many
    one=$(/usr/bin/time -f %R "$1" import-time "$2" 0 1 2>&1 > /dev/null | tail -1)
    many=$(/usr/bin/time -f %R "$1" import-time "$2" 0 21 2>&1 > /dev/null | tail -1)
    awk -v a="$many" -v b="$one" 'BEGIN { printf "%.0f", (a - b) / 20 }'
}

# KiB an import adds to the peak resident size of the program.
import_memory() {
    local empty full
    empty=$(/usr/bin/time -f %M "$1" none "$largest" 2>&1 > /dev/null | tail -1)
    full=$(/usr/bin/time -f %M "$1" import "$largest" 2>&1 > /dev/null | tail -1)
    awk -v a="$full" -v b="$empty" 'BEGIN { printf "%.1f MiB", (a - b) / 1024 }'
}

row() {  # label mode dbc
    local after_rate after_instr before_rate="" before_instr=""
    after_rate=$(rate "$after_bin" "$2" "$3")
    after_instr=$(instructions "$after_bin" "$2" "$3")
    if [ -n "$before_bin" ]; then
        before_rate=$(rate "$before_bin" "$2" "$3")
        before_instr=$(instructions "$before_bin" "$2" "$3")
        printf '%-44s %12s %10s   %12s %10s\n' "$1" "$before_rate" "$before_instr" "$after_rate" "$after_instr"
    else
        printf '%-44s %12s %10s\n' "$1" "$after_rate" "$after_instr"
    fi
}

if [ -n "$before_bin" ]; then
    printf '%-44s %12s %10s   %12s %10s\n' "Work" "before" "instr/frm" "after" "instr/frm"
else
    printf '%-44s %12s %10s\n' "Work" "per s or ms" "instr"
fi
row "decode + physical, stepwise, ford_cgea1_2" stepwise "$ford"
row "decode + physical, batch, ford_cgea1_2" batch "$ford"
row "decode + physical, stepwise, hyundai_2015" stepwise "$hyundai"
row "decode + physical, batch, hyundai_2015" batch "$hyundai"
row "encode all signals of a frame, ford_cgea1_2" encode "$ford"
row "the same in one Vexo_encodeSignals call" encode-signals "$ford"
for dbc in "$gm" "$cadillac"; do
    [ -f "$dbc" ] || continue
    label="Vexo_importFile, $(basename "$dbc" .dbc | sed -E 's/^opendbc__//; s/_1818125//')"
    read -r ms ms_unit instr instr_unit <<< "$(import_row "$label" "$after_bin" "$dbc")"
    if [ -n "$before_bin" ]; then
        read -r bms bms_unit binstr binstr_unit <<< "$(import_row "$label" "$before_bin" "$dbc")"
        printf '%-44s %12s %10s   %12s %10s\n' "$label" "$bms ${bms_unit:-}" "$binstr ${binstr_unit:-}" \
            "$ms ${ms_unit:-}" "$instr ${instr_unit:-}"
    else
        printf '%-44s %12s %10s\n' "$label" "$ms ${ms_unit:-}" "$instr ${instr_unit:-}"
    fi
    if [ -n "$before_bin" ]; then
        printf '%-44s %23s   %23s\n' "  first import in a fresh process" "$(first_import "$before_bin" "$dbc")" \
            "$(first_import "$after_bin" "$dbc")"
        printf '%-44s %23s   %23s\n' "  page faults per import after the first" \
            "$(faults_per_import "$before_bin" "$dbc")" "$(faults_per_import "$after_bin" "$dbc")"
    else
        printf '%-44s %23s\n' "  first import in a fresh process" "$(first_import "$after_bin" "$dbc")"
        printf '%-44s %23s\n' "  page faults per import after the first" "$(faults_per_import "$after_bin" "$dbc")"
    fi
done
# The group insert figure of this tree only (the benchmark is no part of an older build).
inserts=$(build/release/bench/database_bench --benchmark_filter='BM_InsertIntoGroup/100000$' \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2> /dev/null \
    | awk '$1 ~ /_median$/ { printf "%.1f ms", $2 }')
printf '%-44s %23s\n' "100,000 scattered inserts into one group" "${inserts:--}"
if [ -n "$before_bin" ]; then
    printf '%-44s %23s   %23s\n' "peak memory of an import, ford_lincoln_base" "$(import_memory "$before_bin")" \
        "$(import_memory "$after_bin")"
else
    printf '%-44s %23s\n' "peak memory of an import, ford_lincoln_base" "$(import_memory "$after_bin")"
fi
# lines/s of "vexo decode --format json" (scripts/bench_decode.sh, best of three).
lines_rate() {  # vexo dbc
    local n
    n=$(VEXO_TOOL=$1 scripts/bench_decode.sh "$2" 1000000 2> /dev/null | sed -nE 's/.*: ([0-9]+) lines\/s$/\1/p')
    awk -v n="${n:-0}" 'BEGIN { printf "%.2f M lines/s", n / 1e6 }'
}
for dbc in "$ford" "$gm"; do
    [ -f "$dbc" ] || continue
    label="vexo decode --format json, $(basename "$dbc" .dbc | sed -E 's/^opendbc__//; s/_ptcan_2011|_1818125//')"
    if [ -n "$before_vexo" ]; then
        printf '%-44s %23s   %23s\n' "$label" "$(lines_rate "$before_vexo" "$dbc")" \
            "$(lines_rate build/release/cli/vexo "$dbc")"
    else
        printf '%-44s %23s\n' "$label" "$(lines_rate build/release/cli/vexo "$dbc")"
    fi
done
