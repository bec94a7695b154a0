#!/usr/bin/env python3
"""The reference COCO evaluation of a ground-truth and a results file, as `annoxml eval --json`.

    eval_reference.py TRUTH RESULTS [bbox|segm|both]

Needs pycocotools importable (PYTHONPATH); it is not part of this project and not installed by
it. Its plotting import is stubbed, as the evaluation never draws. Prints
{"bbox": {"AP": ..., "per_category": {...}}, "segm": ...}; per-category AP is the mean of the
valid precision entries at area all and 100 detections, as annoxml reports it.
"""
import contextlib
import io
import json
import sys
import types


def stub_plotting():
    for name in ("matplotlib", "matplotlib.pyplot", "matplotlib.collections",
                 "matplotlib.patches"):
        module = types.ModuleType(name)
        module.PatchCollection = module.Polygon = object
        sys.modules.setdefault(name, module)


def main():
    truth_path, results_path = sys.argv[1], sys.argv[2]
    kind = sys.argv[3] if len(sys.argv) > 3 else "bbox"
    stub_plotting()
    import numpy as np
    from pycocotools.coco import COCO
    from pycocotools.cocoeval import COCOeval

    names = ["AP", "AP50", "AP75", "APs", "APm", "APl", "AR1", "AR10", "AR100", "ARs", "ARm", "ARl"]
    out = {}
    with contextlib.redirect_stdout(io.StringIO()):
        truth = COCO(truth_path)
        results = truth.loadRes(results_path)
    for iou_type in (["bbox", "segm"] if kind == "both" else [kind]):
        evaluation = COCOeval(truth, results, iou_type)
        with contextlib.redirect_stdout(io.StringIO()):
            evaluation.evaluate()
            evaluation.accumulate()
            evaluation.summarize()
        entry = dict(zip(names, (float(v) for v in evaluation.stats)))
        per_category = {}
        precision = evaluation.eval["precision"]
        for k, category_id in enumerate(evaluation.params.catIds):
            values = precision[:, :, k, 0, -1]
            values = values[values > -1]
            name = truth.cats[category_id]["name"]
            per_category[name] = float(np.mean(values)) if values.size else -1.0
        entry["per_category"] = per_category
        out[iou_type] = entry
    print(json.dumps(out, indent=2))


if __name__ == "__main__":
    main()
