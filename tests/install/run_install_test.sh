#!/usr/bin/env bash
# Installs the build tree into a temporary root and builds two small programs
# against what was installed: one with pkg-config, one with CMake's
# find_package(xmldata).  Both run (under the emulator in a cross build), and
# so does the installed xmlcfg.
#
# Environment, set by tests/CMakeLists.txt:
#   BUILD_DIR, CMAKE, CC, CXX   the build tree and its tools
#   CONSUMER_FLAGS              extra compile and link flags (sanitizers)
#   LINK_FLAGS                  the build's own linker flags
#   XMLCFG_EMULATOR             runs a target program (empty when native)
#   XMLCFG_SYSROOT              target root file system (empty when native)
#   TOOLCHAIN_FILE              the build's toolchain file (empty when native)
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
say() { printf 'install: %s\n' "$*" >&2; fail=1; }
run_target() { ${XMLCFG_EMULATOR:-} "$@"; }

# Install as into a device image: the prefix /opt/xmldata under a root
# folder.  In a cross build the root also shows the sysroot's libraries, so
# that pkg-config can treat it as the target's root.
root=$work/root
prefix=/opt/xmldata
mkdir -p "$root/usr/lib"
if [ -n "${XMLCFG_SYSROOT:-}" ]; then
    ln -s "$XMLCFG_SYSROOT/usr/include" "$root/usr/include"
    ln -s "$XMLCFG_SYSROOT/usr/lib/arm-linux-gnueabihf" "$root/usr/lib/arm-linux-gnueabihf"
fi
DESTDIR=$root "$CMAKE" --install "$BUILD_DIR" --prefix "$prefix" > "$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; say "cmake --install failed"; exit 1; }
inst=$root$prefix

for f in bin/xmlcfg include/xmldata/xmldata.h share/man/man1/xmlcfg.1; do
    [ -f "$inst/$f" ] || say "$f not installed"
done
for f in libxmldata.a pkgconfig/xmldata.pc cmake/xmldata/xmldataConfig.cmake \
         cmake/xmldata/xmldataConfigVersion.cmake; do
    found=$(find "$inst" -path "*/$f" | head -n 1)
    [ -n "$found" ] || say "$f not installed"
done
pcdir=$(dirname "$(find "$inst" -name xmldata.pc | head -n 1)")
cmakedir=$(dirname "$(find "$inst" -name xmldataConfig.cmake | head -n 1)")
[ "$fail" = 0 ] || exit 1

# The installed tool runs: validation of a small file, errors only.
printf '<config><a>1</a></config>\n' > "$work/ok.xml"
run_target "$inst/bin/xmlcfg" -v 0 -o "$work/ok.xml" 2> "$work/tool.err" ||
    { cat "$work/tool.err" >&2; say "installed xmlcfg failed"; }

# pkg-config.
if [ -n "${XMLCFG_SYSROOT:-}" ]; then
    export PKG_CONFIG_SYSROOT_DIR=$root
    export PKG_CONFIG_LIBDIR=$pcdir:$root/usr/lib/arm-linux-gnueabihf/pkgconfig
else
    export PKG_CONFIG_PATH=$pcdir
fi
if flags=$(pkg-config --cflags --libs xmldata); then
    # shellcheck disable=SC2086
    if "$CC" ${CONSUMER_FLAGS:-} ${LINK_FLAGS:-} -o "$work/consumer-pc" "$here/consumer/main.c" $flags \
            2> "$work/cc.err"; then
        run_target "$work/consumer-pc" || say "program built with pkg-config failed"
    else
        cat "$work/cc.err" >&2
        say "cannot build with: pkg-config --cflags --libs xmldata = $flags"
    fi
else
    say "pkg-config does not know xmldata"
fi
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR PKG_CONFIG_PATH

# find_package(xmldata).
cmake_args=(-S "$here/consumer" -B "$work/consumer-build" -Dxmldata_DIR="$cmakedir"
            -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX")
if [ -n "${CONSUMER_FLAGS:-}" ]; then
    cmake_args+=(-DCMAKE_C_FLAGS="$CONSUMER_FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$CONSUMER_FLAGS ${LINK_FLAGS:-}")
fi
if [ -n "${TOOLCHAIN_FILE:-}" ]; then
    cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" -DXMLCFG_ARMHF_SYSROOT="$XMLCFG_SYSROOT")
fi
if "$CMAKE" "${cmake_args[@]}" > "$work/consumer.log" 2>&1 &&
   "$CMAKE" --build "$work/consumer-build" >> "$work/consumer.log" 2>&1; then
    run_target "$work/consumer-build/consumer" || say "program built with find_package failed"
else
    cat "$work/consumer.log" >&2
    say "cannot build with find_package(xmldata)"
fi

exit $fail
