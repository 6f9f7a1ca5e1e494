#!/bin/bash
# Start to window: the real program started in a program directory of INSTANCES instance
# directories, each holding a work unit, until it answers other programs. The headless program
# (vantrel-headless) and the desktop program (vantrel, offscreen) each answer `--status` from
# their event loop, which they enter once start-up is over; the desktop program's window shows on
# the same first turn of that loop. Both are timed from their start to the first `--status` that a
# copy answers, less what such a `--status` takes against a copy that runs (the median of five,
# measured afterwards). One client process (-cpu 1) that works for ten minutes.
# Usage: bench/start_to_window.sh BUILD/bin INSTANCES [RUNS]
# Prints: "start to window, INSTANCES instances, RUNS runs: headless median M ms, desktop median M ms"
set -euo pipefail

bin=${1:?usage: $0 path/to/build/bin instances [runs]}
instances=${2:?usage: $0 path/to/build/bin instances [runs]}
runs=${3:-5}

work=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-start-XXXXXX")
pid=
cleanup() {
    if [[ -n $pid ]]; then
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -rf -- "$work"
}
trap cleanup EXIT

program=$work/program
runtime=$work/runtime
mkdir -p "$program" && mkdir -m 700 "$runtime"
cp "$bin/vantrel" "$bin/vantrel-headless" "$bin/ORVA_sim_cmdline.exe" "$program/"
printf -- '-cpu 1\r\n' >"$program/vantrel.cfg"
(
    cd "$program"
    seq 1 "$instances" | xargs mkdir
    for ((i = 1; i <= instances; i++)); do
        echo "name=wu$i" >"$i/work_unit.orv"
    done
)

now_us() { echo $(($(date +%s%N) / 1000)); }
status() { env -u DISPLAY XDG_RUNTIME_DIR="$runtime" "$bin/vantrel" --status --program-dir "$program" >/dev/null 2>&1; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR == 0) ? "?" : v[int((NR + 1) / 2)] }'; }

# One start of "$@" in the program directory: microseconds to its first answer, less the cost of
# an answered --status; "?" when it did not answer within a minute.
time_start() {
    local start answered= i cost
    # The work units go back to waiting: the last run's client may have touched them.
    rm -f "$program"/*/lock.orv "$program"/*/state.orv
    # A socket left by a run that had to be killed would look like this run's.
    rm -f "$runtime"/vantrel/*
    start=$(now_us)
    (cd "$program" && exec env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$runtime" \
        ORVA_SIM_PROCESS_SECONDS=600 "$@" >"$work/program.log" 2>&1) &
    pid=$!
    # Until the copy's socket exists, a --status would count the cache itself: looked for cheaply.
    for ((i = 0; i < 60000; i++)); do
        compgen -G "$runtime/vantrel/*" >/dev/null && break
        sleep 0.001
    done
    for ((i = 0; i < 600; i++)); do
        if status; then
            answered=$(now_us)
            break
        fi
        kill -0 "$pid" 2>/dev/null || break
    done
    local -a costs=()
    for ((i = 0; i < 5; i++)); do
        local before
        before=$(now_us)
        status || true
        costs+=($(($(now_us) - before)))
    done
    cost=$(printf '%s\n' "${costs[@]}" | median)
    env -u DISPLAY XDG_RUNTIME_DIR="$runtime" "$bin/vantrel" --post 16 >/dev/null 2>&1 || true
    for ((i = 0; i < 300; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
    if [[ -z $answered ]]; then
        echo "?"
    else
        echo $((answered - start - cost))
    fi
}

measure() {
    local r
    for ((r = 0; r < runs; r++)); do
        time_start "$@"
    done | tee -a "${START_TO_WINDOW_LOG:-/dev/null}" | grep -v "?" | median
}
ms() { awk -v us="$1" 'BEGIN { if (us == "?") print "?"; else printf "%.0f", us / 1000 }'; }

headless=$(measure ./vantrel-headless)
desktop=$(measure ./vantrel)
echo "start to window, $instances instances, $runs runs: headless median $(ms "$headless") ms, desktop median $(ms "$desktop") ms"
