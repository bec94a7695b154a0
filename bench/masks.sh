#!/usr/bin/env bash
# Times one `annoxml masks` run over generated 1920x1080 frames with 10 regions each, and shows
# the size of the masks on disk.
# Usage: bench/masks.sh [BINARY] [FRAMES] [THREADS] [MODE]   (defaults: build/annoxml, 1000, 2, binary)
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/annoxml}")
frames=${2:-1000}
threads=${3:-2}
mode=${4:-binary}

folder=$(mktemp -d)
trap 'rm -rf "$folder" "$folder-out"' EXIT
python3 - "$folder" "$frames" <<'PYTHON'
import math, pathlib, random, sys
folder, count = pathlib.Path(sys.argv[1]), int(sys.argv[2])
rng = random.Random(1)

def points(outline):
    return "".join(f"<Point>{x:.2f},{y:.2f}</Point>" for x, y in outline)

def blob(cx, cy, radius, vertices):
    return [(cx + radius * (0.75 + 0.25 * rng.random()) * math.cos(2 * math.pi * k / vertices),
             cy + radius * (0.75 + 0.25 * rng.random()) * math.sin(2 * math.pi * k / vertices))
            for k in range(vertices)]

def region(index):
    cx, cy, r = rng.uniform(0, 1920), rng.uniform(0, 1080), rng.uniform(20, 220)
    label = ("Polyp", "Ulcer", "Blutung")[index % 3]
    kind = index % 5
    if kind == 0:
        return f'<Polygon Index="{index}" Label="{label}">{points(blob(cx, cy, r, 12))}</Polygon>'
    if kind == 1:
        return (f'<Circle Index="{index}" Label="{label}"><Center>{cx:.2f},{cy:.2f}</Center>'
                f'<Point>{cx + r:.2f},{cy:.2f}</Point></Circle>')
    if kind == 2:
        return (f'<Ellipse Index="{index}" Label="{label}"><Center>{cx:.2f},{cy:.2f}</Center>'
                f'<HeightPoint>{cx:.2f},{cy + r / 2:.2f}</HeightPoint>'
                f'<AxisPoints><Point>{cx - r:.2f},{cy:.2f}</Point><Point>{cx + r:.2f},{cy:.2f}</Point></AxisPoints></Ellipse>')
    if kind == 3:
        corners = [(cx - r, cy - r / 2), (cx + r, cy - r / 2), (cx + r, cy + r / 2), (cx - r, cy + r / 2)]
        return f'<Rectangle Index="{index}" Label="{label}">{points(corners)}</Rectangle>'
    return (f'<FreehandContour Index="{index}" Label="{label}"><Points>{points(blob(cx, cy, r, 80))}'
            f'</Points></FreehandContour>')

for n in range(count):
    path = folder / f"video-{n // 100:02}" / f"frame-{n:05}.xml"
    path.parent.mkdir(exist_ok=True)
    regions = "\n  ".join(region(i) for i in range(1, 11))
    path.write_text(f"""<?xml version="1.0" encoding="utf-8"?>
<Annotation>
  <ImageInformation><FileName>frame-{n:05}.png</FileName><Height>1080</Height><Width>1920</Width></ImageInformation>
  <User UserID="bench" Mode="Edit" State="Done" Time="2026/01/01 00:00:00"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#E53935"/><Label LabelType="Ulcer" LabelColor="#FB8C00"/><Label LabelType="Blutung" LabelColor="#8E24AA"/></LabelList>
  {regions}
</Annotation>""", encoding="utf-8")
PYTHON

echo "bench: $frames frames in $folder, $threads threads, mode $mode" >&2
start=$(date +%s.%N)
"$binary" masks "$folder" --out-dir "$folder-out" --mode "$mode" -j "$threads"
end=$(date +%s.%N)
written=$(find "$folder-out" -name '*.png' | wc -l)
python3 -c "import sys; n, s = int(sys.argv[1]), float(sys.argv[3]) - float(sys.argv[2]);
print(f'bench: {n} masks in {s:.2f} s, {n / s:.1f} masks/s', file=sys.stderr)" "$written" "$start" "$end"
du -sh "$folder-out" >&2
[[ $written -eq $frames ]]
