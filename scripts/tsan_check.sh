#!/usr/bin/env bash
# Runs the batch tests that reduce files side by side (-j) against a ThreadSanitizer build of the
# tool: clang with LLVM's OpenMP runtime, whose libarcher tool tells ThreadSanitizer about the
# runtime's own synchronisation (without it every parallel loop would be reported). Only the tool
# is instrumented (the tests start it through QProcess, whose clone-based start ThreadSanitizer
# cannot follow); the release build's cli_tests run it through TESSALINE_TEST_CLI. Exits non-zero
# when a test fails, and a race the tool reports fails its test (exit code 66).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
archer=$(ls /usr/lib/llvm-*/lib/libarcher.so 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$archer" ]; then
    echo "tsan_check: no libarcher.so (Debian package libomp-dev) found" >&2
    exit 1
fi

cmake --preset tsan >/dev/null
cmake --build --preset tsan --target tessaline-cli -j "$jobs"
cmake --preset release >/dev/null
cmake --build --preset release --target cli_tests -j "$jobs"

export TESSALINE_TEST_CLI="$PWD/build/tsan/cli/tessaline-cli"
export OMP_TOOL_LIBRARIES="$archer"
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:ignore_noninstrumented_modules=1:${TSAN_OPTIONS:-}"
build/release/tests/cli/cli_tests \
    --gtest_filter="${TSAN_TESTS:-HostileFoldersTest.DitheredBatch*:BatchTest.FilesSideBySide*}"
