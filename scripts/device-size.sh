#!/usr/bin/env bash
# Measures what xmlcfg costs on the device: the stripped size of the armhf
# binary for each build type, its shared-library dependencies, the newest
# C-library symbol version it needs, and the C library of the sysroot it was
# linked against.  The table "Size on the device" in the README is its
# output.
#
# Usage: scripts/device-size.sh [--native]
#   Without options it cross-builds for armhf (run scripts/armhf-setup.sh
#   first; XMLCFG_ARMHF_SYSROOT names another sysroot).  --native measures
#   the build machine's own binary instead, for a quick comparison where the
#   cross compilers are missing.
# The builds go to build-size-TYPE/ (tool only, no tests).
set -euo pipefail
cd "$(dirname "$0")/.."

native=0
[ "${1:-}" = --native ] && native=1
jobs=${XMLCFG_JOBS:-$(nproc)}

if [ "$native" = 1 ]; then
    prefix=""
    toolchain=()
    arch=$(uname -m)
else
    prefix=arm-linux-gnueabihf-
    toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake)
    arch=armhf
    command -v "${prefix}g++" >/dev/null ||
        { echo "device-size: ${prefix}g++ not found: run scripts/armhf-setup.sh, or use --native" >&2; exit 1; }
fi

# Bytes with thousands separators, as the README writes them.
commas() { echo "$1" | sed -e ':a' -e 's/\([0-9]\)\([0-9]\{3\}\)\($\|,\)/\1,\2\3/' -e 'ta'; }

echo "Stripped size of xmlcfg ($arch, ${prefix}strip):"
echo
echo "| Build type | Stripped size |"
echo "|---|---|"
last=""
for type in MinSizeRel RelWithDebInfo Release; do
    dir=build-size-$type
    [ "$native" = 1 ] && dir=build-size-native-$type
    # The toolchain file counts only when a build folder is made.
    if [ -f "$dir/CMakeCache.txt" ]; then
        cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DXMLCFG_BUILD_TESTS=OFF -DXMLCFG_WERROR=ON >/dev/null
    else
        cmake -S . -B "$dir" "${toolchain[@]}" -DCMAKE_BUILD_TYPE="$type" -DXMLCFG_BUILD_TESTS=OFF \
            -DXMLCFG_WERROR=ON >/dev/null
    fi
    cmake --build "$dir" -j "$jobs" --target xmlcfg >/dev/null
    "${prefix}strip" -o "$dir/xmlcfg.stripped" "$dir/xmlcfg"
    size=$(stat -c %s "$dir/xmlcfg.stripped")
    echo "| $type | $(commas "$size") bytes |"
    last=$dir/xmlcfg.stripped
done

echo
needed=$("${prefix}readelf" -d "$last" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $(echo $needed)"
if [ "$native" = 0 ]; then
    sysroot=${XMLCFG_ARMHF_SYSROOT:-$PWD/build-armhf-sysroot}
    for lib in $needed ld-linux-armhf.so.3; do
        file=$(find "$sysroot" -name "$lib" 2>/dev/null | head -n 1)
        [ -n "$file" ] && echo "  $lib: $(commas "$(stat -L -c %s "$file")") bytes in the sysroot"
    done
fi
# The newest GLIBC_x.y that any symbol of the binary asks for: the oldest C
# library it runs on.
needs=$("${prefix}readelf" -V --wide "$last" | grep -o 'GLIBC_[0-9][0-9.]*' | sort -u -t. -k1,1 -k2,2n -k3,3n |
        tail -n 1)
echo "needs at least: ${needs:-no versioned C-library symbol}"
if [ "$native" = 0 ]; then
    libc=$(find "$sysroot" -name 'libc.so.6' 2>/dev/null | head -n 1)
    if [ -n "$libc" ]; then
        echo "sysroot C library: $(grep -a -o -m 1 'GNU C Library ([^)]*) [a-z ]*version [0-9.]*[0-9]' "$libc" |
            head -n 1)"
    fi
fi
