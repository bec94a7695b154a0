"""read_frame: the frame model as Python objects, checked against what `annoxml dataset` writes
for the same files, and the view semantics of outlines."""

from __future__ import annotations

import json

import numpy as np
import pytest

import annoxml
from conftest import run_tool


def test_outlines_boxes_and_areas_match_the_data_set(tool, study_dir, tmp_path):
    output = tmp_path / "instances.json"
    run_tool(tool, "dataset", "-q", "-j", "2", "-o", output, study_dir)
    data = json.loads(output.read_text())
    annotations = {}
    for annotation in data["annotations"]:
        annotations.setdefault(annotation["image_id"], []).append(annotation)
    items = [item for item in annoxml.Study(study_dir) if item.frame is not None]
    assert [image["file_name"] for image in data["images"]] == [i.file_name for i in items]
    for image, item in zip(data["images"], items):
        frame = item.frame
        assert (image["width"], image["height"]) == (frame.width, frame.height)
        written = annotations.get(image["id"], [])
        assert len(written) == len(frame.regions)
        for annotation, region, category in zip(written, frame.regions, item.category_ids):
            assert annotation["category_id"] == category
            np.testing.assert_allclose(region.outline.ravel(), annotation["segmentation"][0],
                                       rtol=1e-9, atol=1e-9)
            np.testing.assert_allclose(region.box, annotation["bbox"], rtol=1e-9, atol=1e-9)
            assert region.area == pytest.approx(annotation["area"], rel=1e-9)


def test_frame_fields(study_dir):
    frame = annoxml.read_frame(study_dir / "ward-b" / "frame-000.xml")
    assert (frame.file_name, frame.width, frame.height) == ("frame-000.png", 48, 32)
    assert (frame.user, frame.captured) == ("u0", "2026/01/02 03:04:00")
    assert [(label.name, label.color) for label in frame.labels] == [
        ("Polyp", "#FF0000"), ("ulcer", "#00FF00")]
    assert [(m.index, m.description, m.color) for m in frame.masks] == [
        ("1", "Lesion", "#FF000080")]
    assert [r.kind for r in frame.regions] == [
        "Polygon", "Rectangle", "Circle", "Ellipse", "FreehandContour"]
    assert [r.mask for r in frame.regions] == ["1", None, None, None, None]
    assert [m.kind for m in frame.marks] == ["Line", "Text", "CobbAngle"]
    assert frame.marks[1].text == "note 0"
    assert [part.tolist() for part in frame.marks[0].parts] == [[[0, 0], [10, 10]]]
    assert len(frame.marks[2].parts) == 2
    rectangle = frame.regions[1]
    assert rectangle.box == (2, 14, 12, 8) and rectangle.area == 96


def test_outline_is_a_read_only_view_of_the_frame(study_dir):
    frame = annoxml.read_frame(study_dir / "ward-b" / "frame-000.xml")
    region = frame.regions[0]
    first, second = region.outline, region.outline
    assert first.dtype == np.float64 and first.shape == (3, 2)
    assert np.shares_memory(first, second)  # no copy per access
    assert not first.flags.writeable
    with pytest.raises(ValueError):
        first[0, 0] = 1
    del frame, region  # the view keeps the frame alive
    assert first.tolist() == [[2, 2], [10.5, 3], [6, 12.25]]


def test_convert_writes_what_the_tool_writes(tool, study_dir, tmp_path):
    source = study_dir / "ward-a" / "frame-001.xml"
    run_tool(tool, "convert", "-q", source, "-o", tmp_path / "tool.json")
    annoxml.convert(source, tmp_path / "python.json")
    assert (tmp_path / "python.json").read_bytes() == (tmp_path / "tool.json").read_bytes()


def rle_runs(counts: str) -> list:
    """COCO's compressed counts decoded: five bits a character from 48, a sixth that says more
    follow, the last one's sign bit for negatives, each count after the second a difference to
    the count two before."""
    runs, position = [], 0
    while position < len(counts):
        value, shift, more = 0, 0, True
        while more:
            chunk = ord(counts[position]) - 48
            value |= (chunk & 0x1F) << shift
            more = bool(chunk & 0x20)
            position += 1
            shift += 5
            if not more and chunk & 0x10:
                value |= -1 << shift
        runs.append(value + (runs[-2] if len(runs) > 2 else 0))
    return runs


def rle_mask(rle: dict) -> np.ndarray:
    """The (height, width) mask of a COCO RLE (runs over the pixels column by column)."""
    height, width = rle["size"]
    pixels = np.zeros(height * width, dtype=np.uint8)
    position = 0
    for number, run in enumerate(rle_runs(rle["counts"])):
        pixels[position:position + run] = number % 2
        position += run
    assert position == height * width
    return pixels.reshape(width, height).T


def test_region_rle_is_cocos_rasterisation_of_the_outline(study_dir):
    frame = annoxml.read_frame(study_dir / "ward-b" / "frame-000.xml")
    rles = [region.rle() for region in frame.regions]
    assert all(rle["size"] == [32, 48] and isinstance(rle["counts"], str) for rle in rles)
    # A rectangle on whole pixels covers exactly its pixels under COCO's rule.
    rectangle = rle_mask(rles[1])
    assert rectangle.sum() == 96 and rectangle[14:22, 2:14].all()
    for region, rle in zip(frame.regions, rles):
        # Five times finer than a pixel, the traced boundary stays within about a pixel of the
        # outline: the area differs by at most the perimeter.
        outline = region.outline
        perimeter = np.linalg.norm(outline - np.roll(outline, 1, axis=0), axis=1).sum()
        assert abs(int(rle_mask(rle).sum()) - region.area) <= perimeter, region


def test_region_rle_scores_perfectly_against_the_data_set(tool, study_dir, tmp_path):
    """The tool's evaluation reads the RLEs back and matches them with the data set's polygons by
    the same rule: every region predicted as itself gives an AP of 1."""
    predictions = [
        {"image_id": item.image_id, "category_id": category, "bbox": list(region.box),
         "score": 1.0, "segmentation": region.rle()}
        for item in annoxml.Study(study_dir) if item.frame is not None
        for region, category in zip(item.frame.regions, item.category_ids)]
    (tmp_path / "predictions.json").write_text(json.dumps(predictions))
    result = run_tool(tool, "eval", study_dir, "--predictions", tmp_path / "predictions.json",
                      "--iou-type", "segm", "--json")
    assert json.loads(result.stdout)["segm"]["AP"] == pytest.approx(1.0)
