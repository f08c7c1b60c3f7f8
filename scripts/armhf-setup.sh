#!/usr/bin/env bash
# Prepares a Debian 12 machine for the 32-bit ARM (armhf) cross build:
#   - the cross compilers and qemu-arm from the host's own packages;
#   - a small target root file system (the "sysroot") holding Debian's armhf
#     C library, C++ runtime, libxml2 (with headers) and GoogleTest, unpacked
#     from Debian's armhf packages.
#
# The target libraries are unpacked into a folder of their own instead of
# being installed as foreign-architecture packages: an armhf library package
# can only be installed beside its amd64 twin when both have exactly the same
# version, which ties the cross build to the host being fully up to date.
# The folder is also what qemu-arm uses as the device's root (-L).
#
# apt looks up and downloads the armhf packages with a package index of its
# own, kept in the sysroot's .apt folder, so the machine's apt configuration
# (its architectures and its index) stays as it is.
#
# A mirror briefly out of sync must not stop it: every index that cannot be
# fetched is named, and a package whose chosen version cannot be downloaded
# is tried again after an index update, then without a version, then in
# every other version the index knows.  It stops only when no version of a
# needed package can be had.
#
# Usage: scripts/armhf-setup.sh [SYSROOT]   (default: build-armhf-sysroot/)
# Needs root for apt-get.  Safe to run again: it does only what is missing.
set -euo pipefail
sysroot=${1:-${XMLCFG_ARMHF_SYSROOT:-}}
[ -z "$sysroot" ] || sysroot=$(realpath -m "$sysroot")
cd "$(dirname "$0")/.."
[ -n "$sysroot" ] || sysroot=$PWD/build-armhf-sysroot
export DEBIAN_FRONTEND=noninteractive

# apt_update [APT OPTION...]: apt-get update, naming each index it could not
# fetch.  It does not fail: one index that cannot be fetched fails the update
# as a whole, but what counts is whether the packages are found afterwards.
apt_update() {
    local log rc=0
    log=$(mktemp)
    apt-get "$@" update 2>&1 | tee "$log" || rc=$?
    awk '
        /^[WE]: Failed to fetch / {
            sub(/^[WE]: Failed to fetch /, "")
            url = $1; sub(/^[^ ]+ +/, "")
            print "armhf-setup: could not fetch index: " url " (" $0 ")"; next }
        /^[WE]: / && !/Some index files failed to download/ { print "armhf-setup: apt-get update: " $0 }' \
        "$log" >&2
    rm -f "$log"
    [ "$rc" = 0 ] || echo "armhf-setup: apt-get update ended with status $rc; going on" >&2
    return 0
}

# Host tools.  A download that fails on a stale index is tried once more
# after an update.
need=()
for pkg in g++-arm-linux-gnueabihf qemu-user cmake pkg-config; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    apt_update
    apt-get install -y --no-install-recommends "${need[@]}" ||
        { apt_update && apt-get install -y --no-install-recommends "${need[@]}"; }
fi

# Target packages, unpacked into the sysroot.  One stamp per package, named
# after the version unpacked, so that a newer candidate is unpacked again.
target_pkgs=(libc6 libgcc-s1 libstdc++6 libxml2 libxml2-dev libicu72 liblzma5 zlib1g libgtest-dev)

aptdir=$sysroot/.apt
debs=$sysroot/.debs
mkdir -p "$aptdir/lists/partial" "$aptdir/cache/archives/partial" "$sysroot/.stamps" "$debs"
apt_armhf=(-o APT::Architectures=armhf -o "Dir::State::Lists=$aptdir/lists"
           -o "Dir::Cache=$aptdir/cache" -o APT::Sandbox::User=root)

# versions [PACKAGE...]: "name candidate" for each package the index has.
versions() {
    [ $# -gt 0 ] || set -- "${target_pkgs[@]}"
    apt-cache "${apt_armhf[@]}" policy "${@/%/:armhf}" 2>/dev/null | awk '
        /^[^ ]/ { sub(/:armhf:$/, ""); sub(/:$/, ""); name = $0 }
        /Candidate:/ && $2 != "(none)" { print name, $2 }'
}
missing() {   # the target packages not in LIST
    local pkg
    for pkg in "${target_pkgs[@]}"; do
        grep -q "^$pkg " <<< "$1" || printf ' %s' "$pkg"
    done
}

updated=0
list=$(versions)
if [ -n "$(missing "$list")" ]; then
    apt_update "${apt_armhf[@]}"
    updated=1
    list=$(versions)
fi
if [ -n "$(missing "$list")" ]; then
    echo "armhf-setup: no armhf version of:$(missing "$list") in any package index" >&2
    exit 1
fi

# download NAME[=VERSION]: one armhf .deb of NAME into $debs, the only one
# there.
download() {
    local wanted=$1:armhf
    [[ $1 != *=* ]] || wanted=${1%%=*}:armhf=${1#*=}
    rm -f "$debs"/*.deb
    if (cd "$debs" && apt-get "${apt_armhf[@]}" download "$wanted") > "$debs/log" 2>&1 &&
            compgen -G "$debs/*.deb" > /dev/null; then
        return 0
    fi
    sed 's/^/  /' "$debs/log" >&2
    return 1
}
# fetch NAME VERSION: the candidate if it can be downloaded, else after an
# index update the new candidate, then the package without a version, then
# every other version the index knows, in turn.
fetch() {
    local name=$1 version=$2 v
    download "$name=$version" && return 0
    echo "armhf-setup: cannot download $name $version; trying other ways" >&2
    if [ "$updated" = 0 ]; then
        apt_update "${apt_armhf[@]}"
        updated=1
        v=$(versions "$name" | awk '{ print $2 }')
        if [ -n "$v" ] && [ "$v" != "$version" ]; then
            download "$name=$v" && return 0
        fi
    fi
    download "$name" && return 0
    for v in $(apt-cache "${apt_armhf[@]}" show "$name:armhf" 2>/dev/null | awk '/^Version:/ { print $2 }'); do
        if [ "$v" != "$version" ]; then
            download "$name=$v" && return 0
        fi
    done
    return 1
}

while read -r name version; do
    [ -e "$sysroot/.stamps/$name=${version//:/%3a}" ] && continue
    fetch "$name" "$version" ||
        { echo "armhf-setup: no version of $name:armhf could be downloaded" >&2; exit 1; }
    deb=$(compgen -G "$debs/*.deb" | head -n 1)
    got=$(dpkg-deb -f "$deb" Version)
    [ "$got" = "$version" ] || echo "armhf-setup: $name: unpacked $got instead of $version" >&2
    dpkg-deb -x "$deb" "$sysroot"
    rm -f "$sysroot/.stamps/$name="* "$deb"
    touch "$sysroot/.stamps/$name=${got//:/%3a}"
done <<< "$list"

# The armhf tests run the sysroot's libxml2; its messages are part of what
# they compare, so a version other than this machine's is worth knowing.
target_xml=$(compgen -G "$sysroot/.stamps/libxml2=*" | head -n 1)
target_xml=${target_xml##*/libxml2=}
target_xml=${target_xml//%3a/:}
host_xml=$(dpkg-query -W -f='${Version}' libxml2 2>/dev/null || true)
if [ -z "$host_xml" ]; then
    # Only the upstream version: compare the sysroot's without Debian's parts.
    host_xml=$(xml2-config --version 2>/dev/null || echo unknown)
    target_xml=${target_xml#*:}
    target_xml=${target_xml%%[-+~]*}
fi
echo "armhf-setup: libxml2 $target_xml in the sysroot, $host_xml on this machine"
[ "$target_xml" = "$host_xml" ] ||
    echo "armhf-setup: warning: the sysroot's libxml2 ($target_xml) differs from this machine's ($host_xml)" >&2

echo "armhf-setup: sysroot ready in $sysroot"
