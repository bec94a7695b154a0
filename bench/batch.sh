#!/usr/bin/env bash
# Times one `annoxml convert` run over a folder of generated small annotation files.
# Usage: bench/batch.sh [BINARY] [FILES] [THREADS]   (defaults: build/annoxml, 10000, all cores)
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/annoxml}")
files=${2:-10000}
threads=${3:-$(nproc)}

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
python3 - "$folder" "$files" <<'PYTHON'
import pathlib, sys
folder, count = pathlib.Path(sys.argv[1]), int(sys.argv[2])
for n in range(count):
    x, y = n % 600, n % 400
    (folder / f"batch-{n // 1000:02}" / f"frame-{n:05}.xml").parent.mkdir(exist_ok=True)
    (folder / f"batch-{n // 1000:02}" / f"frame-{n:05}.xml").write_text(f"""<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>frame-{n:05}.png</FileName><Height>480</Height><Width>640</Width></ImageInformation>
  <User UserID="bench" Mode="Edit" State="Done" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp"/><Label LabelType="Œdème"/></LabelList>
  <Mask Index="1" Color="#FF000080" Description="Lesion">
    <Polygon Index="1" Label="Polyp"><Point>{x},{y}</Point><Point>{x + 30},{y + 5}</Point><Point>{x + 12},{y + 40}</Point></Polygon>
  </Mask>
  <Rectangle Index="2" Label="Polyp"><Point>{x},{y}</Point><Point>{x + 20},{y}</Point><Point>{x + 20},{y + 20}</Point><Point>{x},{y + 20}</Point></Rectangle>
  <Circle Index="3" Label="Œdème"><Center>{x + 50},{y + 50}</Center><Point>{x + 40},{y + 50}</Point></Circle>
  <Line Index="4"><StartPoint>{x},{y}</StartPoint><EndPoint>{x + 9},{y + 9}</EndPoint></Line>
</Annotation>""", encoding="utf-8")
PYTHON

echo "bench: $files files in $folder, $threads threads" >&2
time "$binary" convert "$folder" --out-dir "$folder-out" -j "$threads"
converted=$(find "$folder-out" -name '*.json' | wc -l)
rm -rf "$folder-out"
echo "bench: $converted JSON files written" >&2
[[ $converted -eq $files ]]
