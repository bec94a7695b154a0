"""frame.mask against the PNGs of `annoxml masks`, and instance_masks against an independent
even-odd rasterisation at pixel centres."""

from __future__ import annotations

import numpy as np
import pytest
from PIL import Image

import annoxml
from conftest import run_tool


@pytest.mark.parametrize("mode", ["binary", "category", "instance"])
def test_mask_equals_the_tool_png(tool, study_dir, tmp_path, mode):
    result = run_tool(tool, "masks", "-q", "--mode", mode, "--rename", "ulcer=Ulcer",
                      "--out-dir", tmp_path, study_dir)
    assert result.returncode == 1, result.stderr  # broken.xml fails
    checked = 0
    for item in annoxml.Study(study_dir, rename={"ulcer": "Ulcer"}):
        if item.frame is None:
            continue
        png = np.asarray(Image.open(tmp_path / (item.file_name[:-4] + ".png")))
        mask = item.frame.mask(mode, item.category_ids)
        assert mask.shape == (32, 48)
        assert mask.dtype == (np.uint16 if mode == "instance" else np.uint8)
        np.testing.assert_array_equal(mask, png.astype(mask.dtype))
        checked += 1
    assert checked == 13


def inside(points, x, y):
    result = False
    for (x1, y1), (x2, y2) in zip(points, np.roll(points, -1, axis=0)):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            result = not result
    return result


def test_instance_masks_cover_pixel_centres_inside_each_outline(study_dir):
    frame = annoxml.read_frame(study_dir / "ward-a" / "frame-003.xml")
    masks = frame.instance_masks()
    assert masks.shape == (5, 32, 48) and masks.dtype == np.uint8
    for region, mask in zip(frame.regions, masks):
        expected = [[inside(region.outline, x + 0.5, y + 0.5) for x in range(48)]
                    for y in range(32)]
        np.testing.assert_array_equal(mask, np.array(expected, dtype=np.uint8))
    # Later regions cover earlier ones in the instance image.
    painted = np.zeros((32, 48), dtype=np.uint16)
    for number, mask in enumerate(masks, start=1):
        painted[mask == 1] = number
    np.testing.assert_array_equal(frame.mask("instance"), painted)


def test_frame_without_regions(study_dir):
    frame = annoxml.read_frame(study_dir / "ward-a" / "empty.xml")
    assert frame.instance_masks().shape == (0, 32, 48)
    assert not frame.mask().any()


@pytest.mark.parametrize("mode, ids, message", [
    ("outline", None, "mode"),
    ("category", None, "category_ids"),
    ("binary", [1, 2], "category_ids"),
])
def test_bad_mask_arguments(study_dir, mode, ids, message):
    frame = annoxml.read_frame(study_dir / "ward-a" / "frame-001.xml")
    with pytest.raises(ValueError, match=message):
        frame.mask(mode, ids)
