#!/bin/bash
# Kill trials of the transfer. A card made by talven77-tool make-card is transferred into
# an empty save folder by build/tests/fileops/transfer_trial, which is killed with SIGKILL
# at a random moment, several times a trial. After every kill no card file may be marked
# without an identical copy that carries its flag; a transfer run to its end afterwards
# must leave every card file marked, with exactly one identical copy, marked too.
# A kill leaves the page cache as it was, so these trials show the order of the writes,
# not what a power cut would lose.
# Usage: scripts/transfer_kill_trials.sh [TRIALS] [BUILD_FOLDER]   (30 trials, build)
set -u
trials=${1:-30}
build=${2:-build}
tool=$build/tools/talven77-tool
trial=$build/tests/fileops/transfer_trial
for program in "$tool" "$trial"; do
    [ -x "$program" ] || { echo "$program is missing: build talven77-tool and transfer_trial" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/transfer-kills.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$tool" make-card "$work/template" --number 1 --recordings 60 >/dev/null || exit 2
# Every recording of the card still to be transferred.
find "$work/template" -iname '*.mp3' -exec "$tool" edit --transferred off {} + >/dev/null || exit 2

# How long a whole transfer takes here: the kills fall within it.
mkdir -p "$work/save"
cp -a "$work/template" "$work/card"
start=$(date +%s%N)
"$trial" run "$work/card" "$work/save" >/dev/null 2>&1
span_ms=$(( ($(date +%s%N) - start) / 1000000 + 1 ))
echo "a whole transfer takes ${span_ms} ms"

faults=0
kills=0
for ((i = 1; i <= trials; ++i)); do
    rm -rf "$work/card" "$work/save"
    cp -a "$work/template" "$work/card"
    mkdir -p "$work/save"
    for ((k = 1; k <= 3; ++k)); do
        "$trial" run "$work/card" "$work/save" >/dev/null 2>&1 &
        pid=$!
        sleep "$(awk -v ms=$((RANDOM % span_ms)) 'BEGIN { printf "%.3f", ms / 1000 }')"
        kill -KILL "$pid" 2>/dev/null && kills=$((kills + 1))
        wait "$pid" 2>/dev/null
        if ! "$trial" check "$work/card" "$work/save" >"$work/check.txt"; then
            echo "trial $i, kill $k:"
            cat "$work/check.txt"
            faults=$((faults + 1))
        fi
    done
    "$trial" run "$work/card" "$work/save" >/dev/null 2>&1
    if ! "$trial" check "$work/card" "$work/save" --complete >"$work/check.txt"; then
        echo "trial $i, after a transfer to the end:"
        cat "$work/check.txt"
        faults=$((faults + 1))
    fi
    tail -n 1 "$work/check.txt"
done
echo "$trials trials, $kills kills, $faults checks with faults"
[ "$faults" -eq 0 ]
