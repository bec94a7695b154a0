"""Endoscopy annotation XML files as NumPy arrays, data sets and a PyTorch detection dataset.

Read one file with :func:`read_frame`, a whole study with :class:`Study`, and write the exports of
the ``annoxml`` tool (COCO data sets, mask PNGs, YOLO sets) byte for byte as the tool writes them.
:mod:`annoxml.torch` holds a map-style dataset for torchvision's detection models.
"""

from __future__ import annotations

import json
import os
import warnings
from dataclasses import dataclass, field
from typing import Iterable, Iterator, List, Mapping, Optional, Sequence, Tuple, Union

from . import _annoxml
from ._annoxml import Category, Frame, Label, Mark, Mask, Region, StudyItem, region_left_out
from ._errors import FrameError

__all__ = [
    "Category",
    "ExportResult",
    "Frame",
    "FrameError",
    "Label",
    "Mark",
    "Mask",
    "Region",
    "Study",
    "StudyItem",
    "convert",
    "read_frame",
    "region_left_out",
]

PathLike = Union[str, "os.PathLike[str]"]


def _path(value: object, name: str) -> str:
    """The path as str; TypeError naming the argument when it is not a path."""
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError(f"{name}: expected a path (str or os.PathLike), not {type(value).__name__}")
    return os.fsdecode(os.fspath(value))


def _existing(value: object, name: str) -> str:
    path = _path(value, name)
    if path != "-" and not os.path.exists(path):
        raise FileNotFoundError(2, f"{name}: no such file or folder", path)
    return path


def read_frame(path: PathLike) -> Frame:
    """Reads one annotation file into a :class:`Frame`.

    Raises FileNotFoundError when the file does not exist, FrameError (a ValueError) when it
    cannot be read, with the message the annoxml tool prints, and TypeError for a non-path.
    """
    return _annoxml.read_frame(_existing(path, "path"))


def convert(xml_path: PathLike, json_path: PathLike) -> None:
    """Writes the per-file JSON of one annotation file, exactly as ``annoxml convert`` does.

    Raises FileNotFoundError when the input does not exist and FrameError when it cannot be
    converted.
    """
    _annoxml.convert(_existing(xml_path, "xml_path"), _path(json_path, "json_path"))


@dataclass
class ExportResult:
    """What an export of a :class:`Study` did."""

    #: Files read and written.
    converted: int
    #: Files that failed (each also in ``failures``); they are left out of the export.
    failed: int
    #: (path, message) per failed file; path "" for a folder that could not be listed.
    failures: List[Tuple[str, str]] = field(default_factory=list)
    #: False when nothing was written (``strict`` and some file failed).
    written: bool = True


def _renames(rename: Union[None, Mapping[str, str], Iterable[str]]) -> List[str]:
    if rename is None:
        return []
    if isinstance(rename, Mapping):
        return [f"{old}={new}" for old, new in rename.items()]
    if isinstance(rename, str):
        return [rename]
    return [str(item) for item in rename]


def _splits(split: Union[None, str, Mapping[str, float]]) -> str:
    if split is None:
        return ""
    if isinstance(split, Mapping):
        return ",".join(f"{name}={float(share)!r}" for name, share in split.items())
    if isinstance(split, str):
        return split
    raise TypeError(f"split: expected a str or a mapping, not {type(split).__name__}")


def _categories(categories: object) -> Optional[str]:
    """The category list as JSON text: from a file path, or from a list of dicts/Categories."""
    if categories is None:
        return None
    if isinstance(categories, (str, bytes, os.PathLike)):
        path = _path(categories, "categories")
        try:
            with open(path, "rb") as file:
                return file.read().decode("utf-8")
        except OSError as error:
            raise ValueError(f"categories: {path}: cannot be read") from error
    entries = []
    for entry in categories:  # type: ignore[attr-defined]
        if isinstance(entry, Category):
            entry = {"id": entry.id, "name": entry.name, "supercategory": entry.supercategory}
        entries.append(entry)
    return json.dumps(entries)


class Study:
    """The catalog of the annoxml tool over many annotation files.

    ``inputs`` are files and folders (searched for ``*.xml``, sorted by path), like the tool's
    INPUT arguments. The categories, their ids, the renames and the split assignment are those
    of ``annoxml dataset``, ``masks`` and ``yolo`` with the same options:

    - ``rename``: {"OLD": "NEW"} or ["OLD=NEW", ...] (``--rename``)
    - ``categories``: a JSON file or a list of {"id", "name", "supercategory"} (``--categories``)
    - ``split``: "train=0.8,val=0.2" or {"train": 0.8, "val": 0.2} (``--split``)
    - ``seed``, ``group_by`` ("file" or "folder"): ``--seed``, ``--group-by``
    - ``threads``: files read at the same time; 0 for the machine's hardware threads (``-j``)

    ``len(study)`` is the number of files; iterating yields a :class:`StudyItem` per file in
    input order (files that cannot be read included, with ``error`` set). Files are read on
    ``threads`` threads without holding the GIL.
    """

    def __init__(
        self,
        inputs: Union[PathLike, Sequence[PathLike]],
        rename: Union[None, Mapping[str, str], Iterable[str]] = None,
        categories: object = None,
        split: Union[None, str, Mapping[str, float]] = None,
        seed: int = 0,
        group_by: str = "file",
        threads: int = 0,
    ) -> None:
        if isinstance(inputs, (str, bytes, os.PathLike)):
            inputs = [inputs]
        paths = [_existing(value, "inputs") for value in inputs]
        if not isinstance(seed, int) or seed < 0:
            raise ValueError(f"seed: {seed!r} is not an integer of 0 or more")
        if not isinstance(threads, int) or not 0 <= threads <= 1024:
            raise ValueError(f"threads: {threads!r} is not an integer from 0 to 1024")
        if not isinstance(group_by, str):
            raise TypeError(f"group_by: expected a str, not {type(group_by).__name__}")
        self._options = dict(
            rename=rename, categories=categories, split=split, seed=seed, group_by=group_by,
            threads=threads,
        )
        self._inputs = paths
        self._study = _annoxml.Study(
            paths, _renames(rename), _categories(categories), _splits(split), seed, group_by,
            threads,
        )

    def __len__(self) -> int:
        return len(self._study)

    def __iter__(self) -> Iterator[StudyItem]:
        return iter(self._study)

    def __repr__(self) -> str:
        return f"Study({self._inputs!r}, files={len(self)})"

    @property
    def categories(self) -> List[Category]:
        """The categories in id order as the data set lists them (reads the study once)."""
        return list(self._study.categories)

    def write_coco(
        self, path: PathLike, indent: Optional[int] = None, strict: bool = False
    ) -> ExportResult:
        """Writes the COCO instances file(s) that ``annoxml dataset -o PATH`` writes.

        With splits, one file per split named with "_NAME" before the extension. ``indent``:
        pretty output with that many spaces (0 to 16). ``strict``: write nothing if any file
        fails. Raises OSError when the output cannot be written.
        """
        if indent is not None and (not isinstance(indent, int) or not 0 <= indent <= 16):
            raise ValueError(f"indent: {indent!r} is not an integer from 0 to 16")
        result = self._study.write_coco(_path(path, "path"), -1 if indent is None else indent,
                                        bool(strict))
        return ExportResult(result["converted"], result["failed"], result["failures"],
                            result["written"])

    def write_masks(
        self,
        out_dir: PathLike,
        mode: str = "binary",
        labels: Optional[Iterable[str]] = None,
        force: bool = False,
    ) -> ExportResult:
        """Writes the mask PNGs and categories.json that ``annoxml masks --out-dir`` writes.

        ``mode``: "binary", "category" or "instance"; ``labels``: paint only these categories
        (``--labels``). A label that names no category gives a warning. The folder is replaced
        as a whole; a non-empty folder annoxml did not write raises RuntimeError unless
        ``force`` (``--force``).
        """
        result = self._study.write_masks(_path(out_dir, "out_dir"), mode,
                                         [] if labels is None else list(labels), bool(force))
        for label in result["unknown_labels"]:
            warnings.warn(f'labels: no category is called "{label}"', stacklevel=2)
        return ExportResult(result["converted"], result["failed"], result["failures"])

    def write_yolo(
        self,
        out_dir: PathLike,
        task: str = "detect",
        images: Optional[PathLike] = None,
        copy_images: bool = False,
        force: bool = False,
    ) -> ExportResult:
        """Writes the YOLO set that ``annoxml yolo --out-dir`` writes.

        ``task``: "detect" or "segment"; ``images``: the folder of the images by data-set file
        name, linked (or with ``copy_images`` copied) into images/<split>/. Splits are train,
        val (also valid, validation) and test; another name raises ValueError. The folder is
        replaced as a whole, as with ``write_masks`` and ``force``.
        """
        images_dir = None if images is None else _path(images, "images")
        result = self._study.write_yolo(_path(out_dir, "out_dir"), task, images_dir,
                                        bool(copy_images), bool(force))
        return ExportResult(result["converted"], result["failed"], result["failures"])
