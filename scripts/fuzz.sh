#!/usr/bin/env bash
# Builds a fuzz target (clang, libFuzzer, address and undefined behaviour sanitizers,
# through CMake with VEXO_BUILD_FUZZERS) and runs it for a number of seconds. The
# libFuzzer targets: the DBC and LDF readers, strict and tolerant (the tolerant ones
# checked against the strict reader), the SYM reader and the candump log parser (the
# same frames however the text is cut into calls), with the shared corpus and
# fuzz/seeds as seeds; and "databases", models over two databases with one destroyed
# part way; and "batch", a channel built through the C interface and frames whose batch
# decoding (with and without vector instructions, into roomy or tight buffers) must give
# the stepwise decoder's records. "lua" runs fuzz/lua_lifetime.lua in the sanitized Lua
# test host: random models and iterator loops that drop their database values at random
# points. Seeds, the growing corpus and crash files live in a scratch directory outside
# the repository.
#   usage: scripts/fuzz.sh TARGET [SECONDS]   e.g. scripts/fuzz.sh dbc 600
#          (TARGET: dbc, ldf, sym, dbc-tolerant, ldf-tolerant, candump, databases, batch, lua)
#   env:   VEXO_FUZZ_BUILD (default <repo>/build-fuzz), VEXO_FUZZ_SCRATCH
#          (default ${TMPDIR:-/tmp}/vexo-fuzz), VEXO_CORPUS_DIR (default
#          <repo>/../shared/corpus), FUZZ_ARGS (extra libFuzzer options),
#          FUZZ_SEED (seed of the lua target; default: from the clock)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
target=${1:-}
seconds=${2:-60}
build=${VEXO_FUZZ_BUILD:-$root/build-fuzz}
scratch=${VEXO_FUZZ_SCRATCH:-${TMPDIR:-/tmp}/vexo-fuzz}/$target
corpus_dir=${VEXO_CORPUS_DIR:-$root/../shared/corpus}
max_len=65536

case "$target" in
    dbc | ldf | sym | dbc-tolerant | ldf-tolerant)
        format=${target%-tolerant}
        seeds=("$root/fuzz/seeds/$format"/* "$corpus_dir/$format"/*)
        dictionary=$root/fuzz/$format.dict
        ;;
    candump)
        seeds=("$root/fuzz/seeds/logs"/* "$corpus_dir/logs"/*)
        dictionary=
        ;;
    databases | batch)
        seeds=("$root/fuzz/seeds/$target"/*)
        dictionary=
        max_len=4096
        ;;
    lua) ;;
    *)
        echo "usage: $0 dbc|ldf|sym|dbc-tolerant|ldf-tolerant|candump|databases|batch|lua [SECONDS]" >&2
        exit 2
        ;;
esac

configure() {
    local dir=$1
    shift
    mkdir -p "$dir"
    cmake -S "$root" -B "$dir" -G Ninja "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
}

if [ "$target" = lua ]; then
    # The Lua target runs in the test host of a sanitizer build of the library.
    configure "$build/lua" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DVEXO_SANITIZE=address,undefined -DVEXO_BUILD_BENCH=OFF
    cmake --build "$build/lua" -j "${VEXO_JOBS:-2}" --target vexo_lua_host
    mkdir -p "$scratch"
    echo "fuzz: running lua for $seconds s"
    status=0
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
    UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$build/lua/tests/lua/vexo_lua_host" "$root/fuzz/lua_lifetime.lua" "$seconds" "${FUZZ_SEED:-$(date +%s)}" \
        2>&1 | tee "$scratch/fuzz.log" || status=$?
    echo "fuzz: exit status $status; log in $scratch/fuzz.log"
    exit "$status"
fi

configure "$build/libfuzzer" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DVEXO_SANITIZE=address,undefined \
    -DVEXO_BUILD_FUZZERS=ON -DVEXO_BUILD_BENCH=OFF
program=${target/-/_}_fuzz
echo "fuzz: building $program"
cmake --build "$build/libfuzzer" -j "${VEXO_JOBS:-2}" --target "$program"
binary=$build/libfuzzer/fuzz/$program

mkdir -p "$scratch/seeds" "$scratch/corpus" "$scratch/artifacts"
for seed in "${seeds[@]}"; do
    [ -f "$seed" ] && cp -f "$seed" "$scratch/seeds/"
done
dict=()
[ -n "$dictionary" ] && [ -f "$dictionary" ] && dict=(-dict="$dictionary")

echo "fuzz: running $target for $seconds s in $scratch"
cd "$scratch"
rm -f fuzz-0.log
# One job and one worker: the machine is shared. The job's log is fuzz-0.log.
status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
"$binary" -jobs=1 -workers=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$scratch/artifacts/" \
    "${dict[@]}" ${FUZZ_ARGS:-} "$scratch/corpus" "$scratch/seeds" || status=$?
tail -n 40 "$scratch/fuzz-0.log" 2>/dev/null || true
echo "fuzz: exit status $status; artifacts in $scratch/artifacts"
exit "$status"
