#!/usr/bin/env bash
# Times the merge and the delta on keyed lists against the parse floor:
# bench/run_list_bench.sh keyed, which says how.
#
#   bench/run_keyed_bench.sh [--runs N]
exec "$(dirname "$0")/run_list_bench.sh" keyed "$@"
