// The segmentations of COCO files as masks, shared by the ground truth and the results.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "annoxml/eval.h"
#include "annoxml/rle.h"

namespace annoxml::detail {

// A segmentation value: polygons [[x0, y0, ...], ...], one RLE {"size": [h, w], "counts": ...}
// with counts compressed or not, or a list of such RLEs, read and checked whole, so that it may
// outlive the JSON value. Throws std::invalid_argument saying what is wrong, a size other than
// the image's included.
class SegmentationValue {
  public:
    SegmentationValue(const nlohmann::json& value, int height, int width);

    // By the reference's rules: each polygon rasterised by COCO's rule, RLEs as given, merged.
    Rle CocoMask() const;
    // Polygons filled by the pixel-centre rule of the masks export, RLEs as given.
    Rle PixelMask() const;
    bool isPolygons() const { return rles_.empty(); }

  private:
    std::vector<std::vector<double>> polygons_;
    std::vector<Rle> rles_;
    int height_;
    int width_;
};

// A box [x, y, w, h] from JSON; throws std::invalid_argument unless four finite numbers.
Box ParseBox(const nlohmann::json& value);

// The pixel-centre mask of an outline.
Rle PixelMaskOf(const std::vector<Point>& outline, int height, int width);

}  // namespace annoxml::detail
