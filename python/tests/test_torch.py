"""annoxml.torch.DetectionDataset: torchvision's detection format, DataLoader workers, and a
real training step of Mask R-CNN."""

from __future__ import annotations

import json
import math
import pickle
import subprocess
import sys

import numpy as np
import pytest

import annoxml

torch = pytest.importorskip("torch")
torchvision = pytest.importorskip("torchvision")
from annoxml.torch import DetectionDataset  # noqa: E402


def collate(batch):
    return tuple(zip(*batch))


@pytest.fixture(scope="module")
def dataset(study_dir):
    return DetectionDataset(study_dir, images=study_dir, rename={"ulcer": "Ulcer"})


def test_targets_in_torchvision_format(dataset, study_dir):
    assert len(dataset) == 13 and len(dataset.failures) == 1
    assert [c.name for c in dataset.categories] == ["Polyp", "Ulcer"]
    image, target = dataset[1]
    assert image.dtype == torch.uint8 and image.shape == (3, 32, 48)
    frame = annoxml.read_frame(study_dir / "ward-a" / "frame-001.xml")
    assert target["boxes"].dtype == torch.float32 and target["boxes"].shape == (5, 4)
    x, y, width, height = frame.regions[1].box
    assert target["boxes"][1].tolist() == [x, y, x + width, y + height]
    assert target["labels"].tolist() == [1, 2, 1, 2, 1]
    assert target["labels"].dtype == torch.int64
    assert target["masks"].dtype == torch.uint8 and target["masks"].shape == (5, 32, 48)
    np.testing.assert_array_equal(target["masks"].numpy(), frame.instance_masks())
    assert target["image_id"].item() == 2
    assert target["area"].dtype == torch.float32
    assert target["area"].tolist() == pytest.approx([r.area for r in frame.regions])
    assert target["iscrowd"].tolist() == [0] * 5


def test_image_ids_are_those_of_the_data_set(dataset, study_dir, tmp_path):
    annoxml.Study(study_dir, rename={"ulcer": "Ulcer"}).write_coco(tmp_path / "d.json")
    images = json.loads((tmp_path / "d.json").read_text())["images"]
    assert [dataset[i][1]["image_id"].item() for i in range(len(dataset))] == [
        image["id"] for image in images]


def test_frame_without_regions(dataset):
    image, target = dataset[0]  # ward-a/empty.xml
    assert target["boxes"].shape == (0, 4) and target["masks"].shape == (0, 32, 48)
    assert target["labels"].shape == (0,)


def test_one_split(study_dir):
    train = DetectionDataset(study_dir, images=study_dir, split="train",
                             shares={"train": 0.5, "val": 0.5})
    val = DetectionDataset(study_dir, images=study_dir, split="val", shares="train=0.5,val=0.5")
    assert len(train) + len(val) == 13 and len(train) > 0 and len(val) > 0
    assert sorted(val[i][1]["image_id"].item() for i in range(len(val))) == list(
        range(1, len(val) + 1))


def test_missing_images_are_reported(tmp_path):
    from conftest import write_study

    study = write_study(tmp_path / "study", count=2, images=False)
    with pytest.raises(FileNotFoundError, match="no image"):
        DetectionDataset(study, images=tmp_path)


def test_data_loader_with_two_workers(dataset):
    loader = torch.utils.data.DataLoader(dataset, batch_size=4, num_workers=2,
                                         collate_fn=collate)
    seen = [target["image_id"].item() for _, targets in loader for target in targets]
    assert seen == list(range(1, 14))
    assert len(pickle.dumps(dataset)) < 10_000


def test_importing_annoxml_does_not_import_torch():
    code = "import sys, annoxml; annoxml.Study; sys.exit('torch' in sys.modules)"
    assert subprocess.run([sys.executable, "-c", code]).returncode == 0


def test_mask_rcnn_takes_two_training_steps(dataset):
    from torchvision.models.detection import maskrcnn_resnet50_fpn

    torch.manual_seed(0)
    torch.set_num_threads(2)
    # Small images and few proposals keep it quick on a CPU with the reference BLAS; the
    # ResNet body stays fixed, the FPN and every head learn.
    model = maskrcnn_resnet50_fpn(weights=None, weights_backbone=None,
                                  num_classes=len(dataset.categories) + 1,
                                  min_size=64, max_size=64, rpn_pre_nms_top_n_train=64,
                                  rpn_post_nms_top_n_train=32, rpn_batch_size_per_image=32,
                                  box_batch_size_per_image=16)
    for parameter in model.backbone.body.parameters():
        parameter.requires_grad_(False)
    model.train()
    optimised = [parameter for parameter in model.parameters() if parameter.requires_grad]
    before = [parameter.detach().clone() for parameter in optimised]
    optimiser = torch.optim.SGD(optimised, lr=0.005, momentum=0.9)
    loader = torch.utils.data.DataLoader(dataset, batch_size=2, shuffle=False,
                                         collate_fn=collate)
    batches = iter(loader)
    next(batches)  # the first frame has no regions; start with annotated ones
    for _ in range(2):
        images, targets = next(batches)
        images = [image.float() / 255 for image in images]
        targets = [{k: v for k, v in target.items()} for target in targets]
        losses = model(images, targets)
        total = sum(losses.values())
        assert all(math.isfinite(loss.item()) for loss in losses.values()), losses
        optimiser.zero_grad()
        total.backward()
        optimiser.step()
    assert any(not torch.equal(a, b) for a, b in zip(before, optimised))


def test_regions_left_out_as_every_export_leaves_them(tmp_path):
    """A zero-area polygon and a region outside the image are in no target, as in the data set."""
    from PIL import Image

    (tmp_path / "f.xml").write_text("""<Annotation>
  <ImageInformation><FileName>f.png</FileName><Height>32</Height><Width>48</Width></ImageInformation>
  <User UserID="u" Time="t"/>
  <LabelList><Label LabelType="Polyp" LabelColor="#FF0000"/></LabelList>
  <Polygon Index="1" Label="Polyp"><Point>1,1</Point><Point>5,5</Point><Point>9,9</Point></Polygon>
  <Rectangle Index="2" Label="Polyp"><Point>2,2</Point><Point>12,2</Point><Point>12,9</Point><Point>2,9</Point></Rectangle>
  <Rectangle Index="3" Label="Polyp"><Point>60,2</Point><Point>70,2</Point><Point>70,9</Point><Point>60,9</Point></Rectangle>
</Annotation>""", encoding="utf-8")
    Image.fromarray(np.zeros((32, 48, 3), dtype=np.uint8)).save(tmp_path / "f.png")
    frame = annoxml.read_frame(tmp_path / "f.xml")
    assert [annoxml.region_left_out(r, 48, 32) for r in frame.regions] == [
        "zero-area", None, "outside the image"]
    _, target = DetectionDataset(tmp_path, images=tmp_path)[0]
    annoxml.Study(tmp_path).write_coco(tmp_path / "d.json")
    written = json.loads((tmp_path / "d.json").read_text())["annotations"]
    assert [[x, y, x + w, y + h] for x, y, w, h in (a["bbox"] for a in written)] == \
        target["boxes"].tolist() == [[2, 2, 12, 9]]
    np.testing.assert_array_equal(target["masks"].numpy(), frame.instance_masks()[[1]])
