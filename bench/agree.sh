#!/usr/bin/env bash
# Times `annoxml agree` over 3 raters x FRAMES generated 1920x1080 frames with 3 regions each
# (bench/generate_raters.py), beside the floor of reading the same files (`annoxml stats`):
# medians of RUNS alternating whole-process runs, then the peak memory of one run of each.
# Usage: bench/agree.sh [BINARY] [FRAMES] [THREADS] [RUNS]   (defaults: build/annoxml, 10000, 2, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/annoxml}")
frames=${2:-10000}
threads=${3:-2}
runs=${4:-5}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
python3 bench/generate_raters.py "$folder" "$frames" 3
raters="$folder/rater-0 $folder/rater-1 $folder/rater-2"
commands=(
  "$binary stats $raters -q -j $threads"
  "$binary agree $raters -q -j $threads --json"
  "$binary agree $raters -q -j $threads --json --consensus $folder/majority --method majority"
  "$binary agree $raters -q -j $threads --json --consensus $folder/staple --method staple"
)
echo "bench: 3 raters x $frames frames in $folder, $threads threads, $runs runs" >&2
python3 bench/alternate.py "$runs" "${commands[@]}"
for command in "${commands[@]}"; do
  peak=$( { /usr/bin/time -v $command >/dev/null; } 2>&1 | sed -n 's/.*Maximum resident set size (kbytes): //p')
  echo "peak ${peak} kB | $command"
done
