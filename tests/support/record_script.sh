#!/bin/sh
# Stands in for the device's XML maintenance script in tests.  Appends how
# it was called ("COUNT:ARGS", the arguments joined by blanks) to the file
# $XMLCFG_SCRIPT_LOG, then exits with $XMLCFG_SCRIPT_STATUS when that is
# set, or hands the call on to the shipped script.
printf '%s:%s\n' "$#" "$*" >>"$XMLCFG_SCRIPT_LOG"
if [ -n "${XMLCFG_SCRIPT_STATUS:-}" ]; then
    exit "$XMLCFG_SCRIPT_STATUS"
fi
exec "$(dirname "$0")/../../platform/qarn_xml.sh" "$@"
