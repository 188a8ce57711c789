#!/usr/bin/env bash
# Plays one short recording many times with talven77-tool and counts how each
# run ended (clean exit, error status, abort or other signal).
#
#   scripts/play_loop.sh [-n RUNS] [-t TOOL] [-l SECONDS_OF_CPU_LOAD] [RECORDING]
#
# Without RECORDING a one-recording simulated card is made in a temporary
# folder. The private test sound server is started unless PULSE_SERVER or a
# running server in XDG_RUNTIME_DIR is already given. With -l, one busy loop per
# core runs for at most that many seconds beside the plays. The output of every
# failed run is kept in the temporary folder, whose path is printed.
set -u

runs=200
tool="build/tools/talven77-tool"
load_seconds=0
while getopts "n:t:l:" option; do
  case "$option" in
    n) runs="$OPTARG" ;;
    t) tool="$OPTARG" ;;
    l) load_seconds="$OPTARG" ;;
    *) echo "usage: $0 [-n RUNS] [-t TOOL] [-l SECONDS] [RECORDING]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

cd "$(dirname "$0")/.."
work="$(mktemp -d /tmp/talven77-play-loop.XXXXXX)"
recording="${1:-}"
if [ -z "$recording" ]; then
  "$tool" make-card "$work/card" --number 1 --recordings 1 >/dev/null || exit 1
  recording="$(find "$work/card" -name '*.MP3' | head -n 1)"
fi

if ! pactl info >/dev/null 2>&1; then
  # shellcheck source=packages.sh
  source scripts/packages.sh
  start_test_audio_server
fi

load_pids=()
stop_load() {
  for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null; done
  load_pids=()
}
trap stop_load EXIT
if [ "$load_seconds" -gt 0 ]; then
  for _ in $(seq "$(nproc)"); do
    timeout "$load_seconds" sh -c 'while :; do :; done' &
    load_pids+=("$!")
  done
fi

clean=0 failed=0 aborted=0 signalled=0
for i in $(seq "$runs"); do
  "$tool" play "$recording" --to 1 >"$work/run.out" 2>&1
  status=$?
  if [ "$status" -eq 0 ]; then
    clean=$((clean + 1))
    continue
  fi
  if [ "$status" -eq 134 ]; then
    aborted=$((aborted + 1))
  elif [ "$status" -gt 128 ]; then
    signalled=$((signalled + 1))
  else
    failed=$((failed + 1))
  fi
  cp "$work/run.out" "$work/failed-$i-status-$status.out"
done
stop_load

echo "runs $runs: clean $clean, error status $failed, aborted $aborted, other signal $signalled (failed runs kept in $work)"
[ "$clean" -eq "$runs" ]
