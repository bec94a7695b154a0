#!/usr/bin/env python3
"""The converter a user would write instead of annoxml: ElementTree and json, same JSON layout.

    peer.py XML OUT.json            one file
    peer.py DIR --out-dir OUTDIR    every *.xml below DIR, mirrored below OUTDIR, in one process
"""
import datetime
import json
import os
import pathlib
import sys
import xml.etree.ElementTree as ET


def numbers(text):
    values = []
    for token in text.split(",") if text else []:
        try:
            values.append(float(token))
        except ValueError:
            print("Invalid argument: invalid stod argument", file=sys.stderr)
    return values


def points(shape):
    return numbers(",".join(p.text or "" for p in shape.findall("Point")))


def annotation(number, category, segmentation, bbox, area, mask_key, mask):
    result = {"id": number, "image_id": 1, "category_id": category,
              "segmentation": [segmentation], "bbox": bbox, "area": area, "iscrowd": 0}
    if mask is not None:
        result[mask_key] = mask
    return result


def convert(source, target):
    root = ET.parse(source).getroot()
    parents = {child: parent for parent in root.iter() for child in parent}
    image = next(root.iter("ImageInformation"), None)
    user = next(root.iter("User"), None)
    if user is None:
        raise ValueError("Invalid xml format")
    text = lambda name: (image.findtext(name) or "") if image is not None else ""
    now = datetime.datetime.now()
    labels, categories = {}, []
    for label_list in root.iter("LabelList"):
        for label in label_list.findall("Label"):
            name = label.get("LabelType", "")
            categories.append({"id": len(categories) + 1, "name": name, "supercategory": ""})
            labels[name] = len(categories)
    masks = [{"id": n + 1, "description": m.get("Description", ""), "index": m.get("Index", ""),
              "color": m.get("Color", "")} for n, m in enumerate(root.iter("Mask"))]

    def mask_of(shape):
        parent = parents.get(shape)
        return parent.get("Index", "") if parent is not None and parent.tag == "Mask" else None

    annotations = []
    for shape in root.iter("Rectangle"):
        p = points(shape)
        x1, y1, x3, y3 = p[0], p[1], p[4], p[5]
        annotations.append(annotation(len(annotations) + 1, labels[shape.get("Label", "")],
                                      [x1, y1, x3, y1, x3, y3, x1, y3, x1, y1],
                                      [x1, y1, x3 - x1, y3 - y1], (y3 - y1) * (x3 - x1),
                                      "mask_id", mask_of(shape)))
    for shape in root.iter("Circle"):
        p, c = points(shape), numbers(shape.findtext("Center") or "")
        r = c[0] - p[0]
        annotations.append(annotation(len(annotations) + 1, labels[shape.get("Label", "")], p,
                                      [c[0] - r, c[1] - r, 2 * r, 2 * r], None,
                                      "mask_id", mask_of(shape)))
    for shape in root.iter("Polygon"):
        p = points(shape)
        xs, ys = p[0::2], p[1::2]
        box = [min(xs), min(ys), max(xs) - min(xs), max(ys) - min(ys)]
        annotations.append(annotation(len(annotations) + 1, labels[shape.get("Label", "")],
                                      p + p[:2], box, box[2] * box[3], "maskId", mask_of(shape)))

    document = {
        "info": {"description": "Endoscopy annotation XML converted to COCO format", "url": None,
                 "year": str(now.year), "version": "1.0", "contributor": "Quillmore",
                 "date_created": now.strftime("%Y/%m/%d")},
        "license": {"id": None, "name": None, "url": None},
        "images": {"id": 1, "height": text("Height"), "width": text("Width"),
                   "file_name": text("FileName"), "license": None, "flickr_url": None,
                   "coco_url": None, "date_captured": user.get("Time", "")},
        "categories": categories, "masks": masks, "annotations": annotations,
    }
    temporary = f"{target}.tmp-{os.getpid()}"
    with open(temporary, "w", encoding="utf-8") as out:
        json.dump(document, out, indent=4, ensure_ascii=False)
    os.replace(temporary, target)


def main(args):
    if len(args) == 3 and args[1] == "--out-dir":
        source, out_dir = pathlib.Path(args[0]), pathlib.Path(args[2])
        for xml in sorted(source.rglob("*.xml")):
            target = (out_dir / xml.relative_to(source)).with_suffix(".json")
            target.parent.mkdir(parents=True, exist_ok=True)
            convert(xml, target)
    elif len(args) == 2:
        convert(args[0], args[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
