#!/usr/bin/env bash
# The tool needs no shared library beyond libxml2, the C++ runtime
# (libstdc++, libgcc_s) and the C library (libc, libm), so that it runs on
# the device's stock root file system.  Also prints the stripped size.
# Usage: check_deps.sh READELF STRIP XMLCFG [OWN]
#   OWN   the store's library in a shared build (libxmldata.so.1), which the
#         runtime component installs with the tool
set -u
readelf=$1 strip=$2 bin=$3 own=${4:-}
tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
"$strip" -o "$tmp" "$bin" || exit 1
echo "stripped size of $(basename "$bin"): $(stat -c %s "$tmp") bytes"
needed=$("$readelf" -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || { echo "no NEEDED entries read from $bin" >&2; exit 1; }
fail=0
for lib in $needed; do
    case "$lib" in
        libxml2.so.2|libstdc++.so.6|libgcc_s.so.1|libc.so.6|libm.so.6|"$own") echo "needs $lib" ;;
        *) echo "needs $lib, which is not part of the device's base libraries" >&2; fail=1 ;;
    esac
done
exit $fail
