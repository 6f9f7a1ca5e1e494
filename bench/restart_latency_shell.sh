#!/bin/bash
# The baseline for bench_restart's restart latency: the same client restarted by a plain shell
# loop in one instance directory, with no supervisor at all. Prints the gaps between one run's
# end and the next run's start.
# Usage: bench/restart_latency_shell.sh BUILD/bin/bench_restart [RUNS] [CLIENT_MS]
set -euo pipefail

client=${1:?usage: $0 path/to/bench_restart [runs] [client_ms]}
runs=${2:-30}
client_ms=${3:-0}

dir=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-shell-XXXXXX")
trap 'rm -rf -- "$dir"' EXIT
mkdir "$dir/1"
echo "nresults=1" > "$dir/1/user_info.orv"
echo "name=wu1" > "$dir/1/work_unit.orv"
echo "$client_ms" > "$dir/bench_client_run_ms.txt"

cd "$dir/1"
for ((i = 0; i < runs; i++)); do
    "$client" -stop_after_process
done

# Each line is "start_us end_us"; a gap is the next start minus this end.
awk 'NR > 1 { print ($1 - previous) / 1000 } { previous = $2 }' "$dir/bench_client_times.txt" | sort -n |
    awk -v runs="$runs" -v ms="$client_ms" '
        { gap[NR] = $1 }
        END {
            median = gap[int((NR - 1) * 0.5 + 1.5)]
            p90 = gap[int((NR - 1) * 0.9 + 1.5)]
            printf "shell loop, %d runs of %d ms: gap median %.3f ms, p90 %.3f ms, max %.3f ms\n",
                runs, ms, median, p90, gap[NR]
        }'
