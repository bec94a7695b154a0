#!/usr/bin/env bash
# Times one `annoxml convert` run over a folder of generated small annotation files.
# Usage: bench/batch.sh [BINARY] [FILES] [THREADS] [KIND]
#   defaults: build/annoxml, 10000, all cores, tiny (four shapes; "medium" gives ~83 KB frames)
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/annoxml}")
files=${2:-10000}
threads=${3:-$(nproc)}
kind=${4:-tiny}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
python3 bench/generate.py "$kind" "$folder" "$files"

echo "bench: $files files in $folder, $threads threads" >&2
time "$binary" convert "$folder" --out-dir "$folder-out" -j "$threads"
converted=$(find "$folder-out" -name '*.json' | wc -l)
rm -rf "$folder-out"
echo "bench: $converted JSON files written" >&2
[[ $converted -eq $files ]]
