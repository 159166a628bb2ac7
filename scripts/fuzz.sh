#!/usr/bin/env bash
# Builds a libFuzzer target of the file readers (clang, address and undefined
# behaviour sanitizers) and runs it for a number of seconds with the shared corpus
# as seeds. Seeds, the growing corpus and crash files live in a scratch directory
# outside the repository.
#   usage: scripts/fuzz.sh TARGET [SECONDS]      e.g. scripts/fuzz.sh dbc 600 (TARGET: dbc, ldf, sym)
#   env:   VEXO_FUZZ_BUILD (default <repo>/build-fuzz), VEXO_FUZZ_SCRATCH
#          (default ${TMPDIR:-/tmp}/vexo-fuzz), VEXO_CORPUS_DIR (default
#          <repo>/../shared/corpus), FUZZ_ARGS (extra libFuzzer options)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
target=${1:-}
seconds=${2:-60}
build=${VEXO_FUZZ_BUILD:-$root/build-fuzz}
scratch=${VEXO_FUZZ_SCRATCH:-${TMPDIR:-/tmp}/vexo-fuzz}/$target
corpus_dir=${VEXO_CORPUS_DIR:-$root/../shared/corpus}

case "$target" in
    dbc)
        sources=(io/lex_input.cpp io/lex_rules.cpp io/dbc_lexer.cpp io/dbc_reader.cpp fuzz/dbc_reader_fuzz.cpp)
        seeds=("$corpus_dir"/dbc/*)
        ;;
    ldf)
        sources=(io/lex_input.cpp io/lex_rules.cpp io/ldf_lexer.cpp io/ldf_reader.cpp fuzz/ldf_reader_fuzz.cpp)
        seeds=("$corpus_dir"/ldf/*)
        ;;
    sym)
        sources=(io/lex_input.cpp io/lex_rules.cpp io/sym_reader.cpp fuzz/sym_reader_fuzz.cpp)
        seeds=("$corpus_dir"/sym/*)
        ;;
    *)
        echo "usage: $0 dbc|ldf|sym [SECONDS]" >&2
        exit 2
        ;;
esac

mkdir -p "$build" "$scratch/seeds" "$scratch/corpus" "$scratch/artifacts"
binary=$build/${target}_fuzz
echo "fuzz: building $binary"
# shellcheck disable=SC2046  # pkg-config output is a list of flags
clang++ -std=c++17 -g -O1 -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root/include" -I"$root/io" $(pkg-config --cflags lua5.1) \
    "${sources[@]/#/$root/}" $(pkg-config --libs lua5.1) -o "$binary"

if [ -e "${seeds[0]}" ]; then
    cp -f "${seeds[@]}" "$scratch/seeds/"
else
    echo "fuzz: no seeds at $corpus_dir, starting from nothing" >&2
fi

dict=()
[ -f "$root/fuzz/$target.dict" ] && dict=(-dict="$root/fuzz/$target.dict")

echo "fuzz: running $target for $seconds s in $scratch"
cd "$scratch"
rm -f fuzz-0.log
# One job and one worker: the machine is shared. The job's log is fuzz-0.log.
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
"$binary" -jobs=1 -workers=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$scratch/artifacts/" \
    "${dict[@]}" ${FUZZ_ARGS:-} "$scratch/corpus" "$scratch/seeds" || status=$?
status=${status:-0}
tail -n 40 "$scratch/fuzz-0.log" 2>/dev/null || true
echo "fuzz: exit status $status; artifacts in $scratch/artifacts"
exit "$status"
