// COCO run-length encoded masks: the compressed "counts" strings of COCO files both ways, the
// polygon and box rasterisation that COCO's evaluation uses, and area, box, union and IoU
// computed on the runs without decoding them to pixels.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "annoxml/export.h"
#include "annoxml/frame.h"
#include "annoxml/masks.h"

namespace annoxml {

// A height x width mask as runs over its pixels in column-major order (x * height + y),
// alternating background and foreground, starting with background (the first run may be 0).
struct Rle {
    int height = 0;
    int width = 0;
    std::vector<std::uint32_t> counts;
};

// The compressed form of the counts: six bits a character from '0', each count after the second
// as the difference to the count two before. The inverse of RleFromString.
ANNOXML_API std::string RleToString(const Rle& rle);
// Throws std::invalid_argument on a character outside '0'..'o' or a count cut short.
ANNOXML_API Rle RleFromString(std::string_view counts, int height, int width);

// The foreground pixels.
ANNOXML_API std::uint64_t RleArea(const Rle& rle);
// The tight box of the foreground in whole pixels, [0, 0, 0, 0] when empty, exactly as COCO's
// toBbox computes it (a run that wraps into the next column spans the whole height).
ANNOXML_API Box RleBox(const Rle& rle);

// COCO's rasterisation of a closed polygon given as x0, y0, x1, y1, ...: the boundary is traced
// on a grid five times finer, and pixel (x, y) is inside when the traced boundary crosses the
// column x below it an odd number of times. This is the rule by which the reference evaluation
// rasterises segmentations; it differs from the pixel-centre rule of OutlineSpans.
ANNOXML_API Rle RleFromPolygon(const std::vector<double>& xy, int height, int width);
ANNOXML_API Rle RleFromPolygon(const std::vector<Point>& outline, int height, int width);
// A box [x, y, w, h] as the polygon of its corners.
ANNOXML_API Rle RleFromBox(const Box& box, int height, int width);

// The union (or intersection) of masks of one size. Throws std::invalid_argument on masks of
// different sizes; the union of none is an empty 0 x 0 mask.
ANNOXML_API Rle RleMerge(const std::vector<Rle>& masks, bool intersect = false);

// The pixels of both masks. Throws std::invalid_argument on masks of different sizes.
ANNOXML_API std::uint64_t RleIntersectionArea(const Rle& a, const Rle& b);

// COCO's IoU of a detection against a ground-truth object: intersection over union, or over the
// detection's own area when the object is a crowd; 0 when they do not meet, -1 when the sizes
// differ.
ANNOXML_API double RleIou(const Rle& detection, const Rle& truth, bool crowd);
// The same for boxes [x, y, w, h] with continuous coordinates (no +1 on widths).
ANNOXML_API double BoxIou(const Box& detection, const Box& truth, bool crowd);

// One byte per pixel, column-major, 1 for foreground.
ANNOXML_API std::vector<std::uint8_t> RleDecode(const Rle& rle);
ANNOXML_API Rle RleEncode(const std::uint8_t* columnMajor, int height, int width);

// The pixel-centre mask of OutlineSpans (row spans, in any order) as runs.
ANNOXML_API Rle RleFromSpans(const std::vector<PixelSpan>& spans, int height, int width);

}  // namespace annoxml
