"""PyTorch datasets over annoxml studies. Importing this module imports torch."""

from __future__ import annotations

import os
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np
import torch
from PIL import Image

from . import PathLike, Study, _path, read_frame, region_left_out


__all__ = ["DetectionDataset"]


class DetectionDataset(torch.utils.data.Dataset):
    """A map-style dataset of a study's frames in torchvision's detection format.

    ``ds[i]`` is ``(image, target)``: ``image`` a uint8 tensor (3, H, W); ``target`` a dict with
    ``boxes`` float32 (N, 4) as x1, y1, x2, y2, ``labels`` int64 (N,) category ids, ``masks``
    uint8 (N, H, W), ``image_id`` int64 (the data set's image id), ``area`` float32 and
    ``iscrowd`` int64 (zeros). N is the number of regions of the frame (0 gives (0, 4) boxes and
    (0, H, W) masks).

    ``inputs`` and ``study_options`` are those of :class:`annoxml.Study`, but for the split
    shares, given as ``shares`` (Study's ``split``); ``split`` names the split whose frames the
    dataset holds ("train"), None for all. ``images`` is the folder of the images, found by
    data-set file name, then by FileName alone, then beside the annotation file. Files that cannot be read
    are left out (see ``failures``); a frame whose image is missing raises FileNotFoundError
    here. The dataset holds paths and ids only, so it pickles cheaply into DataLoader workers.
    """

    def __init__(
        self,
        inputs: Union[PathLike, List[PathLike]],
        images: PathLike,
        split: Optional[str] = None,
        shares: Union[None, str, Dict[str, float]] = None,
        **study_options: Any,
    ) -> None:
        images_dir = _path(images, "images")
        if not os.path.isdir(images_dir):
            raise FileNotFoundError(2, "images: no such folder", images_dir)
        if "split" in study_options:
            raise TypeError("the split shares are given as shares=, split= names the split kept")
        study = Study(inputs, split=shares, **study_options)
        if split is not None and shares is None:
            raise ValueError(f"split: {split!r} asked for, but no shares= were given")
        #: (path, message) of each file left out.
        self.failures: List[Tuple[str, str]] = []
        self._frames: List[Tuple[str, str, List[int], int]] = []
        for item in study:
            if item.frame is None:
                self.failures.append((item.path, item.error or ""))
                continue
            if split is not None and item.split != split:
                continue
            image = item.find_image(images_dir)
            if image is None:
                raise FileNotFoundError(2, f"no image for {item.path} ({item.file_name})",
                                        os.path.join(images_dir, item.file_name))
            self._frames.append((item.path, image, list(item.category_ids), item.image_id))
        #: The study's categories: label i of a target is the id of one of these.
        self.categories = study.categories

    def __len__(self) -> int:
        return len(self._frames)

    def __getitem__(self, index: int) -> Tuple[torch.Tensor, Dict[str, torch.Tensor]]:
        path, image_path, category_ids, image_id = self._frames[index]
        frame = read_frame(path)
        # The regions every export keeps, as the study admitted them.
        kept = [i for i, region in enumerate(frame.regions)
                if region_left_out(region, frame.width, frame.height) is None]
        if len(kept) != len(category_ids):
            raise RuntimeError(f"{path}: changed since the dataset was built")
        with Image.open(image_path) as image:
            pixels = np.asarray(image.convert("RGB"))
        image_tensor = torch.from_numpy(np.ascontiguousarray(pixels.transpose(2, 0, 1)))
        return image_tensor, _target(frame, kept, category_ids, image_id)


def _target(frame: Any, kept: List[int], category_ids: List[int],
            image_id: int) -> Dict[str, torch.Tensor]:
    """torchvision's detection target of a frame, of the regions `kept`."""
    count = len(kept)
    boxes = np.zeros((count, 4), dtype=np.float32)
    areas = np.zeros(count, dtype=np.float32)
    regions = frame.regions
    for i, index in enumerate(kept):
        x, y, width, height = regions[index].box
        boxes[i] = (x, y, x + width, y + height)
        areas[i] = regions[index].area
    masks = frame.instance_masks()
    if count != len(regions):
        masks = np.ascontiguousarray(masks[kept])
    return {
        "boxes": torch.from_numpy(boxes),
        "labels": torch.tensor(category_ids, dtype=torch.int64).reshape(count),
        "masks": torch.from_numpy(masks),
        "image_id": torch.tensor(image_id, dtype=torch.int64),
        "area": torch.from_numpy(areas),
        "iscrowd": torch.zeros(count, dtype=torch.int64),
    }
