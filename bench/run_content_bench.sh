#!/usr/bin/env bash
# Times the merge and the delta on a list matched by content against the parse floor:
# bench/run_list_bench.sh content, which says how.
#
#   bench/run_content_bench.sh [--runs N]
exec "$(dirname "$0")/run_list_bench.sh" content "$@"
