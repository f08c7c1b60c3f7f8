#!/usr/bin/env bash
# Cross-builds for 32-bit ARM (armhf) and runs the whole test suite under
# qemu-arm.  Warnings are errors, as in the native build.
#
# Usage: scripts/armhf-test.sh [BUILD_DIR]   (default: build-armhf/)
# Extra CMake options can be given in XMLCFG_ARMHF_CMAKE_ARGS.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-armhf}
jobs=${XMLCFG_JOBS:-$(nproc)}

scripts/armhf-setup.sh
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake -DXMLCFG_WERROR=ON \
    ${XMLCFG_ARMHF_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs"
ctest --test-dir "$build" --output-on-failure -j "$jobs"
