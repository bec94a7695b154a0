"""Study: the tool's catalog and exports, compared byte for byte with the tool's files."""

from __future__ import annotations

import filecmp
import json
import os
from pathlib import Path

import pytest

import annoxml
from conftest import run_tool

OPTIONS = [
    ({}, []),
    ({"rename": {"ulcer": "Ulcer"}, "split": "train=0.5,val=0.5", "seed": 3},
     ["--rename", "ulcer=Ulcer", "--split", "train=0.5,val=0.5", "--seed", "3"]),
    ({"split": {"a": 0.25, "b": 0.75}, "group_by": "folder"},
     ["--split", "a=0.25,b=0.75", "--group-by", "folder"]),
]


def files_below(root: Path) -> dict:
    return {str(p.relative_to(root)): p for p in sorted(root.rglob("*")) if p.is_file()}


def assert_same_trees(expected: Path, actual: Path) -> None:
    left, right = files_below(expected), files_below(actual)
    assert list(left) == list(right)
    for name in left:
        if name == "data.yaml":  # names its own folder
            assert (left[name].read_text().replace(str(expected), "ROOT")
                    == right[name].read_text().replace(str(actual), "ROOT"))
            continue
        assert filecmp.cmp(left[name], right[name], shallow=False), name


@pytest.mark.parametrize("options, flags", OPTIONS)
def test_write_coco_is_the_tool_file(tool, study_dir, tmp_path, options, flags):
    for side in ("tool", "python"):
        (tmp_path / side).mkdir()
    run_tool(tool, "dataset", "-q", "--indent", "2", *flags, "-o", tmp_path / "tool" / "d.json",
             study_dir)
    result = annoxml.Study(study_dir, threads=2, **options).write_coco(
        tmp_path / "python" / "d.json", indent=2)
    assert_same_trees(tmp_path / "tool", tmp_path / "python")
    assert (result.converted, result.failed) == (13, 1)
    assert result.failures == [(str(study_dir / "ward-b" / "broken.xml"),
                                "Circle with Index 3: no Center")]


@pytest.mark.parametrize("options, flags", OPTIONS)
def test_study_items_follow_the_data_set(tool, study_dir, tmp_path, options, flags):
    run_tool(tool, "dataset", "-q", *flags, "-o", tmp_path / "d.json", study_dir)
    study = annoxml.Study(study_dir, **options)
    assert len(study) == 14
    items = list(study)
    assert [item.path for item in items] == sorted(str(p) for p in study_dir.rglob("*.xml"))
    written = {}
    for path in tmp_path.glob("d*.json"):
        data = json.loads(path.read_text())
        split = path.stem[2:] or None
        written.update({(split, image["file_name"]): image["id"] for image in data["images"]})
        categories = [(c["id"], c["name"]) for c in data["categories"]]
    assert [(c.id, c.name) for c in study.categories] == categories
    read = {(item.split, item.file_name): item.image_id for item in items if item.frame}
    assert read == written
    assert [item.relative_path for item in items][0] == "ward-a/empty.xml"


@pytest.mark.parametrize("mode", ["binary", "category", "instance"])
def test_write_masks_is_the_tool_set(tool, study_dir, tmp_path, mode):
    run_tool(tool, "masks", "-q", "--mode", mode, "--split", "train=0.7,test=0.3",
             "--labels", "Polyp", "--out-dir", tmp_path / "tool", study_dir)
    annoxml.Study(study_dir, split="train=0.7,test=0.3").write_masks(
        tmp_path / "python", mode=mode, labels=["Polyp"])
    assert_same_trees(tmp_path / "tool", tmp_path / "python")


def test_write_masks_warns_about_unknown_labels(study_dir, tmp_path):
    with pytest.warns(UserWarning, match="Nothing"):
        annoxml.Study(study_dir).write_masks(tmp_path, labels=["Nothing"])


@pytest.mark.parametrize("task", ["detect", "segment"])
def test_write_yolo_is_the_tool_set(tool, study_dir, tmp_path, task):
    run_tool(tool, "yolo", "-q", "--task", task, "--split", "train=0.5,val=0.5",
             "--images", study_dir, "--copy-images", "--out-dir", tmp_path / "tool", study_dir)
    result = annoxml.Study(study_dir, split="train=0.5,val=0.5").write_yolo(
        tmp_path / "python", task=task, images=study_dir, copy_images=True)
    assert_same_trees(tmp_path / "tool", tmp_path / "python")
    assert result.failed == 1


def test_strict_writes_nothing(study_dir, tmp_path):
    result = annoxml.Study(study_dir).write_coco(tmp_path / "d.json", strict=True)
    assert not result.written and not os.path.exists(tmp_path / "d.json")


def test_yolo_splits_and_foreign_folders_as_the_tool(study_dir, tmp_path):
    """valid is YOLO's val, other split names are refused; a folder annoxml did not write is
    replaced only with force."""
    out = tmp_path / "yolo"
    study = annoxml.Study(study_dir, split="train=0.5,valid=0.5", group_by="file")
    study.write_yolo(out)
    assert 'val: "images/val"' in (out / "data.yaml").read_text()
    with pytest.raises(ValueError, match="fit"):
        annoxml.Study(study_dir, split="train=0.5,fit=0.5").write_yolo(tmp_path / "other")
    foreign = tmp_path / "foreign"
    foreign.mkdir()
    (foreign / "notes.txt").write_text("mine")
    with pytest.raises(RuntimeError, match="not written by annoxml"):
        study.write_masks(foreign)
    assert (foreign / "notes.txt").exists()
    study.write_masks(foreign, force=True)
    assert not (foreign / "notes.txt").exists() and (foreign / "categories.json").exists()
