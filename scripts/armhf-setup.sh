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
# Usage: scripts/armhf-setup.sh [SYSROOT]   (default: build-armhf-sysroot/)
# Needs root for apt-get.  Safe to run again: it does only what is missing.
set -euo pipefail
sysroot=${1:-${XMLCFG_ARMHF_SYSROOT:-}}
[ -z "$sysroot" ] || sysroot=$(realpath -m "$sysroot")
cd "$(dirname "$0")/.."
[ -n "$sysroot" ] || sysroot=$PWD/build-armhf-sysroot
export DEBIAN_FRONTEND=noninteractive

# Host tools.
need=()
for pkg in g++-arm-linux-gnueabihf qemu-user cmake pkg-config; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
    apt-get update || echo "armhf-setup: apt-get update reported errors; going on" >&2
    apt-get install -y --no-install-recommends "${need[@]}"
fi

# Target packages, unpacked into the sysroot.  One stamp per package
# version, so that a newer package is unpacked again.
target_pkgs=(libc6 libgcc-s1 libstdc++6 libxml2 libxml2-dev libicu72 liblzma5 zlib1g libgtest-dev)

aptdir=$sysroot/.apt
mkdir -p "$aptdir/lists/partial" "$aptdir/cache/archives/partial" "$sysroot/.stamps" "$sysroot/.debs"
apt_armhf=(-o APT::Architectures=armhf -o "Dir::State::Lists=$aptdir/lists"
           -o "Dir::Cache=$aptdir/cache" -o APT::Sandbox::User=root)

versions() {
    apt-cache "${apt_armhf[@]}" policy "${target_pkgs[@]/%/:armhf}" 2>/dev/null | awk '
        /^[^ ]/ { sub(/:armhf:$/, ""); sub(/:$/, ""); name = $0 }
        /Candidate:/ && $2 != "(none)" { print name, $2 }'
}

list=$(versions)
if [ "$(grep -c . <<< "$list")" -ne ${#target_pkgs[@]} ]; then
    # An index that fails to download (a mirror in sync, say) makes apt-get
    # update fail as a whole; what matters is whether the armhf packages are
    # found afterwards.
    apt-get "${apt_armhf[@]}" update ||
        echo "armhf-setup: apt-get update reported errors; going on" >&2
    list=$(versions)
fi
if [ "$(grep -c . <<< "$list")" -ne ${#target_pkgs[@]} ]; then
    echo "armhf-setup: armhf packages not found; found only:" >&2
    echo "$list" >&2
    exit 1
fi

while read -r name version; do
    stamp="$sysroot/.stamps/$name=${version//:/%3a}"
    [ -e "$stamp" ] && continue
    (cd "$sysroot/.debs" && apt-get "${apt_armhf[@]}" download "$name:armhf=$version")
    deb=$(ls "$sysroot/.debs/${name}_"*"_armhf.deb" | tail -n 1)
    dpkg-deb -x "$deb" "$sysroot"
    rm -f "$sysroot/.stamps/$name="* "$deb"
    touch "$stamp"
done <<< "$list"

echo "armhf-setup: sysroot ready in $sysroot"
