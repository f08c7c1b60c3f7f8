#!/usr/bin/env bash
# Runs every unit test and command-line case under valgrind's memcheck, in a
# build folder of its own without sanitizers (the two do not mix).  Any
# memory error, and any definite or indirect leak, fails the test.
#
# Usage: tests/valgrind.sh [BUILD_DIR]   (default: build-valgrind/)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-valgrind}
jobs=${XMLCFG_JOBS:-$(nproc)}

cmake -S . -B "$build" -DXMLCFG_WERROR=ON -DXMLCFG_SANITIZE=OFF -DXMLCFG_VALGRIND=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j "$jobs"
# The installation tests build and run other programs: not checked here.
ctest --test-dir "$build" --output-on-failure -j "$jobs" -E '^install[.]'
