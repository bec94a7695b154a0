"""Bad input gets a clear Python exception naming what is wrong, never a crash."""

from __future__ import annotations

import os
import pickle

import pytest

import annoxml


def test_unreadable_frame_raises_frame_error_with_the_tool_message(study_dir):
    path = str(study_dir / "ward-b" / "broken.xml")
    with pytest.raises(annoxml.FrameError) as raised:
        annoxml.read_frame(path)
    error = raised.value
    assert isinstance(error, ValueError)
    assert (error.source, error.detail) == (path, "Circle with Index 3: no Center")
    assert str(error) == f"{path}: Circle with Index 3: no Center"
    copy = pickle.loads(pickle.dumps(error))
    assert (copy.source, copy.detail, str(copy)) == (error.source, error.detail, str(error))


def test_not_xml_raises_frame_error(tmp_path):
    path = tmp_path / "a.xml"
    path.write_text("<Annotation><ImageInformation>")
    with pytest.raises(annoxml.FrameError, match="Failed to load xml file"):
        annoxml.read_frame(path)
    with pytest.raises(annoxml.FrameError):
        annoxml.convert(path, tmp_path / "a.json")


@pytest.mark.parametrize("call", [
    lambda missing: annoxml.read_frame(missing),
    lambda missing: annoxml.convert(missing, "out.json"),
    lambda missing: annoxml.Study([missing]),
])
def test_missing_file(tmp_path, call):
    with pytest.raises(FileNotFoundError, match="missing.xml"):
        call(str(tmp_path / "missing.xml"))


@pytest.mark.parametrize("call", [
    lambda: annoxml.read_frame(3),
    lambda: annoxml.read_frame(None),
    lambda: annoxml.convert(["a.xml"], "b.json"),
    lambda: annoxml.Study([1.5]),
])
def test_non_path_arguments(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("options, name", [
    ({"rename": ["nothing"]}, "rename"),
    ({"rename": {"": "x"}}, "rename"),
    ({"split": "train=0.8,val=0.1"}, "split"),
    ({"split": {"train": -1, "val": 2}}, "split"),
    ({"split": "train"}, "split"),
    ({"categories": [{"id": "x", "name": "Polyp"}]}, "categories"),
    ({"categories": "/nonexistent/categories.json"}, "categories"),
    ({"group_by": "patient"}, "group_by"),
    ({"seed": -1}, "seed"),
    ({"threads": -2}, "threads"),
])
def test_bad_option_values_name_the_option(study_dir, options, name):
    with pytest.raises(ValueError, match=f"^{name}: "):
        annoxml.Study(study_dir, **options)


@pytest.mark.parametrize("call, name", [
    (lambda study, out: study.write_coco(out / "d.json", indent=40), "indent"),
    (lambda study, out: study.write_masks(out, mode="colour"), "mode"),
    (lambda study, out: study.write_yolo(out, task="pose"), "task"),
])
def test_bad_export_options_name_the_option(study_dir, tmp_path, call, name):
    with pytest.raises(ValueError, match=f"^{name}: "):
        call(annoxml.Study(study_dir), tmp_path)


def test_output_that_cannot_be_written(study_dir, tmp_path):
    with pytest.raises(OSError, match="Cannot write"):
        annoxml.Study(study_dir).write_coco(tmp_path / "no" / "such" / "d.json")


def test_a_fixed_category_list_fails_frames_with_other_labels(study_dir):
    items = list(annoxml.Study(study_dir, categories=[{"id": 7, "name": "Polyp"}]))
    failed = [item for item in items if item.error and "broken" not in item.path]
    assert failed and all(item.frame is None for item in failed)


@pytest.mark.skipif(os.geteuid() == 0, reason="root lists every folder")
def test_folder_that_cannot_be_listed(tmp_path):
    folder = tmp_path / "locked"
    (folder / "inner").mkdir(parents=True)
    (folder / "inner").chmod(0)
    try:
        with pytest.raises(OSError, match="cannot list folder"):
            annoxml.Study(folder)
    finally:
        (folder / "inner").chmod(0o755)
