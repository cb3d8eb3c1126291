#!/usr/bin/env bash
# Runs the batch tests that reduce files side by side (-j) under ThreadSanitizer: the tool and its
# process tests built by clang with LLVM's OpenMP runtime, whose libarcher tool tells
# ThreadSanitizer about the runtime's own synchronisation (without it every parallel loop would be
# reported). Builds only what those tests need. Exits non-zero on any race the tool reports.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
archer=$(ls /usr/lib/llvm-*/lib/libarcher.so 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$archer" ]; then
    echo "tsan_check: no libarcher.so (Debian package libomp-dev) found" >&2
    exit 1
fi

cmake --preset tsan -DCMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-}" >/dev/null
cmake --build --preset tsan --target tessaline-cli cli_tests -j "$jobs"

export OMP_TOOL_LIBRARIES="$archer"
# A race ends the tool with exit code 66, which the test reports as a failed run.
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:ignore_noninstrumented_modules=1:${TSAN_OPTIONS:-}"
build/tsan/tests/cli/cli_tests --gtest_filter="${TSAN_TESTS:-HostileFoldersTest.DitheredBatch*:BatchTest.FilesSideBySide*}"
