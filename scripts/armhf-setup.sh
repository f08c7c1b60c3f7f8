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
# Usage: scripts/armhf-setup.sh [SYSROOT]   (default: build-armhf-sysroot/)
# Needs root for apt-get.  Safe to run again: it does only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

sysroot=${1:-${XMLCFG_ARMHF_SYSROOT:-$PWD/build-armhf-sysroot}}
export DEBIAN_FRONTEND=noninteractive

# Host tools.
need=()
for pkg in g++-arm-linux-gnueabihf qemu-user cmake pkg-config; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done

# Target packages, unpacked into the sysroot.  One stamp per package
# version, so that a newer package is unpacked again.
target_pkgs=(libc6 libgcc-s1 libstdc++6 libxml2 libxml2-dev libicu72 liblzma5 zlib1g libgtest-dev)

updated=0
apt_update() {
    [ "$updated" = 1 ] && return 0
    # A foreign index that fails to download (a mirror in sync, say) makes
    # apt-get update fail as a whole; what matters is whether the armhf
    # packages can be found afterwards, which the steps below check.
    apt-get update || echo "armhf-setup: apt-get update reported errors; going on" >&2
    updated=1
}

if ! dpkg --print-foreign-architectures | grep -qx armhf; then
    dpkg --add-architecture armhf
    apt_update
fi

if [ ${#need[@]} -gt 0 ]; then
    apt_update
    apt-get install -y --no-install-recommends "${need[@]}"
fi

versions() {
    apt-cache policy "${target_pkgs[@]/%/:armhf}" | awk '
        /^[^ ]/ { sub(/:armhf:$/, ""); sub(/:$/, ""); name = $0 }
        /Candidate:/ { print name, $2 }'
}

list=$(versions)
if echo "$list" | grep -q '(none)' || [ "$(echo "$list" | wc -l)" -ne ${#target_pkgs[@]} ]; then
    apt_update
    list=$(versions)
fi
if echo "$list" | grep -q '(none)'; then
    echo "armhf-setup: armhf packages not found:" >&2
    echo "$list" | grep '(none)' >&2
    exit 1
fi

mkdir -p "$sysroot/.stamps" "$sysroot/.debs"
while read -r name version; do
    stamp="$sysroot/.stamps/$name=${version//:/%3a}"
    [ -e "$stamp" ] && continue
    (cd "$sysroot/.debs" && apt-get -o APT::Sandbox::User=root download "$name:armhf=$version")
    deb=$(ls "$sysroot/.debs/${name}_"*"_armhf.deb" | tail -n 1)
    dpkg-deb -x "$deb" "$sysroot"
    rm -f "$sysroot/.stamps/$name="* "$deb"
    touch "$stamp"
done <<< "$list"

echo "armhf-setup: sysroot ready in $sysroot"
