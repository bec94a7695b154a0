#!/usr/bin/env bash
# Times `annoxml preview` over generated small annotation files: the median of RUNS runs, and the
# size of the pages on disk.
# Usage: bench/preview.sh [BINARY] [FILES] [RUNS]   (defaults: build/annoxml, 10000, 5)
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/annoxml}")
files=${2:-10000}
runs=${3:-5}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
python3 bench/generate_frames.py "$folder/in" "$files"

times=()
for ((run = 1; run <= runs; run++)); do
    rm -rf "$folder/out"
    start=$(date +%s.%N)
    "$binary" preview "$folder/in" --out-dir "$folder/out" --quiet
    times+=("$(awk -v start="$start" -v end="$(date +%s.%N)" 'BEGIN { printf "%.2f", end - start }')")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
echo "bench: preview of $files files: runs ${times[*]} s, median $median s"
echo "bench: $(find "$folder/out" -name 'page-*.html' | wc -l) pages," \
    "$(du -sb "$folder/out" | cut -f1) bytes ($(du -sh "$folder/out" | cut -f1) on disk)"
