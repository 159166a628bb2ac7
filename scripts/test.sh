#!/usr/bin/env bash
# Installs the dependencies, then builds and runs the whole test suite twice: a normal
# optimised build, and a build with AddressSanitizer and UndefinedBehaviorSanitizer
# (leak checking on). Both must pass; then the concurrency tests of the encoder and of
# the XSL transformation run under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

jobs=${VEXO_JOBS:-2}

suite() {
    local dir=$1
    shift
    echo "== $dir"
    cmake -S . -B "$dir" -G Ninja -DVEXO_WERROR=ON "$@" > "$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

mkdir -p build
suite build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" \
    -DVEXO_SANITIZE=address,undefined -DVEXO_BUILD_BENCH=OFF

# The encoder, the decoder (whose indexes and plans are built on first use) and the XSL
# transformation are used from several threads: their concurrency tests also run under
# ThreadSanitizer (only those test executables are built).
echo "== build/tsan"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXO_SANITIZE=thread \
    -DVEXO_BUILD_BENCH=OFF > build/tsan.configure.log 2>&1 || { cat build/tsan.configure.log; exit 1; }
cmake --build build/tsan -j "$jobs" --target test_encode test_decode test_io
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/test_encode --gtest_filter='EncoderConcurrency.*'
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/test_decode --gtest_filter='DecoderConcurrency.*'
TSAN_OPTIONS=halt_on_error=1 build/tsan/tests/test_io --gtest_filter='XslTransform.Threads*'

echo "All tests passed in all builds."
