#!/bin/sh
# qarn_xml.sh: XML file maintenance for the device's configuration files.
# The document store runs it as "qarn_xml.sh SUBCOMMAND ARG1 ARG2" and
# passes its exit status back to the caller.
#
#   validate_xml FILE LOG
#       Checks that FILE is well-formed XML.  The checker's messages go to
#       LOG (give /dev/null to drop them).  The check is done by xmllint
#       when it is installed, otherwise by xmlcfg -o (searched in PATH and
#       beside this script).
#
#   backup_xml FILE DEST
#       Copies FILE to DEST, or into DEST under FILE's own name when DEST
#       is a directory.  The copy is written beside its target first and
#       renamed over it, so a backup is either whole or not there.
#
#   calculate_checksum FILE OUT
#       Writes FILE's SHA-256 checksum (64 lower-case hex digits and a
#       line feed) to OUT; MD5 (32 digits) where sha256sum is missing.
#
# Exit status:
#   0  done (validate_xml: FILE is well formed)
#   1  the job failed (validate_xml: FILE is not well formed, or LOG
#      cannot be written; backup_xml and calculate_checksum: DEST or OUT
#      cannot be written)
#   2  usage error: unknown subcommand, missing argument, FILE not readable
#   3  no tool for the job is installed (xmllint or xmlcfg, sha256sum or
#      md5sum)

usage() {
    echo "usage: $0 validate_xml|backup_xml|calculate_checksum FILE ARG" >&2
    exit 2
}

[ $# -ge 3 ] || usage
case $1 in
validate_xml|backup_xml|calculate_checksum) ;;
*) usage ;;
esac
cmd=$1
file=$2
arg=$3
[ -n "$file" ] && [ -n "$arg" ] || usage
if [ ! -f "$file" ] || [ ! -r "$file" ]; then
    echo "$0: cannot read $file" >&2
    exit 2
fi

here=$(dirname "$0")

validate_xml() {
    if command -v xmllint >/dev/null 2>&1; then
        xmllint --noout "$file" >"$arg" 2>&1 && return 0
        return 1
    fi
    for tool in "$(command -v xmlcfg 2>/dev/null)" "$here/xmlcfg"; do
        if [ -n "$tool" ] && [ -x "$tool" ]; then
            "$tool" -o "$file" >"$arg" 2>&1 && return 0
            return 1
        fi
    done
    echo "$0: neither xmllint nor xmlcfg is installed" >&2
    return 3
}

backup_xml() {
    dest=$arg
    [ -d "$dest" ] && dest="$dest/$(basename "$file")"
    tmp="$dest.tmp.$$"
    if cp "$file" "$tmp" 2>/dev/null && mv -f "$tmp" "$dest"; then
        return 0
    fi
    rm -f "$tmp"
    echo "$0: cannot back $file up to $dest" >&2
    return 1
}

calculate_checksum() {
    if command -v sha256sum >/dev/null 2>&1; then
        sum=$(sha256sum <"$file") || return 1
    elif command -v md5sum >/dev/null 2>&1; then
        sum=$(md5sum <"$file") || return 1
    else
        echo "$0: neither sha256sum nor md5sum is installed" >&2
        return 3
    fi
    # Only the digest: the tools append "  -" for standard input.
    printf '%s\n' "${sum%% *}" >"$arg" 2>/dev/null && return 0
    echo "$0: cannot write $arg" >&2
    return 1
}

"$cmd"
