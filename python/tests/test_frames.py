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
