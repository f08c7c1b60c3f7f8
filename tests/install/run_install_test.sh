#!/usr/bin/env bash
# Installs each component of the build tree into a root folder of its own and
# checks exactly what lands there, and a plain install (every component but
# the stand-in debug library, unless XMLCFG_INSTALL_DEBUG_LIB is on).  Then
# builds two small programs against the plain install, one with pkg-config,
# one with CMake's find_package(xmldata): first with a debug library of their
# own, then with the stand-in (component debug-standin) added.  The programs
# run (under the emulator in a cross build), and so does the xmlcfg of the
# runtime component.
#
# Environment, set by tests/install/CMakeLists.txt:
#   BUILD_DIR, CMAKE, CC, CXX   the build tree and its tools
#   LIBDIR, VERSION             its CMAKE_INSTALL_LIBDIR and PROJECT_VERSION
#   SHARED                      1 in a shared build (BUILD_SHARED_LIBS)
#   STANDIN_IN_ALL              1 when a plain install includes the stand-in
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

# Installed as into a device image: the prefix /opt/xmldata under a root.
prefix=/opt/xmldata
install_into() {   # ROOT [COMPONENT]
    local args=(--install "$BUILD_DIR" --prefix "$prefix")
    [ $# -lt 2 ] || args+=(--component "$2")
    DESTDIR=$1 "$CMAKE" "${args[@]}" > "$work/install.log" 2>&1 ||
        { cat "$work/install.log" >&2; say "cmake ${args[*]} failed"; exit 1; }
}
# The files under a root, with the library folder written LIB and the build
# type in the names of CMake's export files written CONFIG.
listing() {
    (cd "$1" && find . ! -type d) | sed -e "s|^\./${prefix#/}/||" -e "s|^$LIBDIR/|LIB/|" \
        -e 's/Targets-[a-z]*\.cmake$/Targets-CONFIG.cmake/' | sort
}
expect() {   # ROOT WHAT FILE...
    local root=$1 what=$2
    shift 2
    diff <(printf '%s\n' "$@" | sort) <(listing "$root") > "$work/diff" ||
        { say "$what: other files than expected (< missing, > extra):"; cat "$work/diff" >&2; }
}

runtime=(bin/xmlcfg share/man/man1/xmlcfg.1)
devel=(include/xmldata/xmldata.h LIB/pkgconfig/xmldata.pc share/man/man3/xmldata.3
       LIB/cmake/xmldata/xmldataConfig.cmake LIB/cmake/xmldata/xmldataConfigVersion.cmake
       LIB/cmake/xmldata/xmldataTargets.cmake LIB/cmake/xmldata/xmldataTargets-CONFIG.cmake)
standin=(include/tolu_debug.h LIB/libtolu_debug.a LIB/cmake/xmldata/xmldataStandinTargets.cmake
         LIB/cmake/xmldata/xmldataStandinTargets-CONFIG.cmake)
if [ "$SHARED" = 1 ]; then
    runtime+=("LIB/libxmldata.so.${VERSION%%.*}" "LIB/libxmldata.so.$VERSION")
    devel+=(LIB/libxmldata.so)
else
    devel+=(LIB/libxmldata.a)
fi
all=("${runtime[@]}" "${devel[@]}")
[ "$STANDIN_IN_ALL" != 1 ] || all+=("${standin[@]}")
for c in runtime devel debug-standin; do
    install_into "$work/$c" "$c"
done
install_into "$work/all"
expect "$work/runtime" "component runtime" "${runtime[@]}"
expect "$work/devel" "component devel" "${devel[@]}"
expect "$work/debug-standin" "component debug-standin" "${standin[@]}"
expect "$work/all" "plain install" "${all[@]}"
[ "$fail" = 0 ] || exit 1

# The runtime component's xmlcfg runs: validation of a small file.
printf '<config><a>1</a></config>\n' > "$work/ok.xml"
LD_LIBRARY_PATH=$work/runtime$prefix/$LIBDIR run_target "$work/runtime$prefix/bin/xmlcfg" -v 0 \
    -o "$work/ok.xml" 2> "$work/tool.err" || { cat "$work/tool.err" >&2; say "installed xmlcfg failed"; }

# In a cross build the root also shows the sysroot's libraries, so that
# pkg-config can treat it as the target's root.
root=$work/all
inst=$root$prefix
export LD_LIBRARY_PATH=$inst/$LIBDIR
if [ -n "${XMLCFG_SYSROOT:-}" ]; then
    mkdir -p "$root/usr/lib"
    ln -s "$XMLCFG_SYSROOT/usr/include" "$root/usr/include"
    ln -s "$XMLCFG_SYSROOT/usr/lib/arm-linux-gnueabihf" "$root/usr/lib/arm-linux-gnueabihf"
fi

# check_run HOW VARIANT PROGRAM: with the "own" debug library, the program's
# functions must be the ones that get the store's records.
check_run() {
    run_target "$3" > "$work/run.out" || say "program built with $1 ($2 debug library) failed"
    [ "$2" != own ] || grep -q "own debug library" "$work/run.out" ||
        say "program built with $1 did not use its own debug library"
}

# consumers own|standin: builds and runs the program both ways.
consumers() {
    local variant=$1 pc_args=() sources=("$here/consumer/main.c") own=OFF flags
    if [ "$variant" = own ]; then
        pc_args=(--define-variable=debug_libs=)
        sources+=("$here/consumer/own_debug.c")
        own=ON
    fi
    # pkg-config.
    if [ -n "${XMLCFG_SYSROOT:-}" ]; then
        export PKG_CONFIG_SYSROOT_DIR=$root
        export PKG_CONFIG_LIBDIR=$inst/$LIBDIR/pkgconfig:$root/usr/lib/arm-linux-gnueabihf/pkgconfig
    else
        export PKG_CONFIG_PATH=$inst/$LIBDIR/pkgconfig
    fi
    if flags=$(pkg-config "${pc_args[@]}" --cflags --libs xmldata); then
        # shellcheck disable=SC2086
        if "$CC" ${CONSUMER_FLAGS:-} ${LINK_FLAGS:-} -o "$work/consumer-pc-$variant" "${sources[@]}" $flags \
                2> "$work/cc.err"; then
            check_run pkg-config "$variant" "$work/consumer-pc-$variant"
        else
            cat "$work/cc.err" >&2
            say "cannot build with: pkg-config ${pc_args[*]} --cflags --libs xmldata = $flags"
        fi
    else
        say "pkg-config does not know xmldata"
    fi
    unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR PKG_CONFIG_PATH

    # find_package(xmldata).
    local build=$work/consumer-$variant
    local cmake_args=(-S "$here/consumer" -B "$build" -Dxmldata_DIR="$inst/$LIBDIR/cmake/xmldata"
                      -DCONSUMER_OWN_DEBUG="$own" -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX")
    if [ -n "${CONSUMER_FLAGS:-}" ]; then
        cmake_args+=(-DCMAKE_C_FLAGS="$CONSUMER_FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$CONSUMER_FLAGS ${LINK_FLAGS:-}")
    fi
    if [ -n "${TOOLCHAIN_FILE:-}" ]; then
        cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN_FILE" -DXMLCFG_ARMHF_SYSROOT="$XMLCFG_SYSROOT")
    fi
    if "$CMAKE" "${cmake_args[@]}" > "$work/consumer.log" 2>&1 &&
       "$CMAKE" --build "$build" >> "$work/consumer.log" 2>&1; then
        check_run find_package "$variant" "$build/consumer"
    else
        cat "$work/consumer.log" >&2
        say "cannot build with find_package(xmldata) ($variant debug library)"
    fi
}

consumers own
[ "$STANDIN_IN_ALL" = 1 ] || install_into "$root" debug-standin
consumers standin

exit $fail
