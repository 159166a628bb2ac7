#!/usr/bin/env bash
# Builds a fuzz target (clang, address and undefined behaviour sanitizers) and runs it for
# a number of seconds. The libFuzzer targets: the DBC and LDF readers, strict and tolerant
# (the tolerant ones checked against the strict reader), and the SYM reader, with the
# shared corpus as seeds,
# and "databases", models over two databases with one destroyed part way.
# "lua" runs fuzz/lua_lifetime.lua in the sanitized Lua test host: random models and
# iterator loops that drop their database values at random points. Seeds, the growing
# corpus and crash files live in a scratch directory outside the repository.
#   usage: scripts/fuzz.sh TARGET [SECONDS]   e.g. scripts/fuzz.sh dbc 600
#          (TARGET: dbc, ldf, sym, dbc-tolerant, ldf-tolerant, databases, lua)
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
includes=(-I"$root/include")
max_len=65536

case "$target" in
    dbc | ldf | dbc-tolerant | ldf-tolerant)
        format=${target%-tolerant}
        harness=fuzz/${format}_reader_fuzz.cpp
        [ "$target" != "$format" ] && harness=fuzz/${format}_tolerant_fuzz.cpp
        sources=(io/lex_input.cpp io/lex_rules.cpp io/read_recovery.cpp io/"$format"_lexer.cpp
            io/"$format"_reader.cpp "$harness")
        includes+=(-I"$root/io")
        seeds=("$corpus_dir/$format"/*)
        dictionary=$format
        ;;
    sym)
        sources=(io/lex_input.cpp io/lex_rules.cpp io/sym_reader.cpp fuzz/sym_reader_fuzz.cpp)
        includes+=(-I"$root/io")
        seeds=("$corpus_dir"/sym/*)
        ;;
    databases)
        sources=()
        for dir in core model codec decode encode diag; do
            includes+=(-I"$root/$dir")
            for file in "$root/$dir"/*.cpp; do sources+=("${file#"$root"/}"); done
        done
        sources+=(fuzz/two_databases_fuzz.cpp)
        seeds=()
        max_len=4096
        ;;
    lua)
        # The Lua target runs in the test host of a sanitizer build of the library.
        mkdir -p "$build"
        echo "fuzz: building the sanitized Lua host in $build/lua"
        cmake -S "$root" -B "$build/lua" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
            -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DVEXO_SANITIZE=address,undefined -DVEXO_BUILD_BENCH=OFF \
            > "$build/lua.configure.log" 2>&1 || { cat "$build/lua.configure.log"; exit 1; }
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
        ;;
    sym)
        sources=(io/lex_input.cpp io/lex_rules.cpp io/sym_reader.cpp fuzz/sym_reader_fuzz.cpp)
        seeds=("$corpus_dir"/sym/*)
        ;;
    *)
        echo "usage: $0 dbc|ldf|sym|dbc-tolerant|ldf-tolerant|databases|lua [SECONDS]" >&2
        exit 2
        ;;
esac

mkdir -p "$build" "$scratch/seeds" "$scratch/corpus" "$scratch/artifacts"
binary=$build/${target/-/_}_fuzz
echo "fuzz: building $binary"
# shellcheck disable=SC2046  # pkg-config output is a list of flags
clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    "${includes[@]}" $(pkg-config --cflags lua5.1) \
    "${sources[@]/#/$root/}" $(pkg-config --libs lua5.1) -o "$binary"

if [ "${#seeds[@]}" -gt 0 ] && [ -e "${seeds[0]}" ]; then
    cp -f "${seeds[@]}" "$scratch/seeds/"
else
    echo "fuzz: no seeds for $target, starting from nothing" >&2
fi

dict=()
[ -f "$root/fuzz/${dictionary:-$target}.dict" ] && dict=(-dict="$root/fuzz/${dictionary:-$target}.dict")

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
