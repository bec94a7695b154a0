#include "eval/segmentation.h"

#include <cmath>
#include <stdexcept>

#include "annoxml/masks.h"

namespace annoxml::detail {
namespace {

using nlohmann::json;

std::string SizeText(int height, int width) {
    return "[" + std::to_string(height) + ", " + std::to_string(width) + "]";
}

Rle ParseRle(const json& value, int height, int width) {
    const auto size = value.find("size");
    const auto counts = value.find("counts");
    if (size == value.end() || counts == value.end() || !size->is_array() || size->size() != 2 ||
        !(*size)[0].is_number_integer() || !(*size)[1].is_number_integer()) {
        throw std::invalid_argument("an RLE needs \"size\": [height, width] and \"counts\"");
    }
    const int h = (*size)[0].get<int>();
    const int w = (*size)[1].get<int>();
    if (h != height || w != width) {
        throw std::invalid_argument("segmentation of size " + SizeText(h, w) +
                                    " on an image of size " + SizeText(height, width));
    }
    Rle rle;
    if (counts->is_string()) {
        rle = RleFromString(counts->get_ref<const std::string&>(), h, w);
    } else if (counts->is_array()) {
        rle = Rle{h, w, {}};
        rle.counts.reserve(counts->size());
        for (const json& count : *counts) {
            if (!count.is_number_unsigned()) {
                throw std::invalid_argument("RLE counts must be non-negative integers");
            }
            rle.counts.push_back(count.get<std::uint32_t>());
        }
    } else {
        throw std::invalid_argument("RLE counts must be a string or an array");
    }
    std::uint64_t total = 0;
    for (const std::uint32_t count : rle.counts) total += count;
    if (total != static_cast<std::uint64_t>(h) * static_cast<std::uint64_t>(w)) {
        throw std::invalid_argument("RLE counts cover " + std::to_string(total) + " pixels, not " +
                                    std::to_string(h) + "x" + std::to_string(w));
    }
    return rle;
}

std::vector<double> PolygonCoordinates(const json& polygon) {
    if (!polygon.is_array()) throw std::invalid_argument("a polygon must be an array of numbers");
    std::vector<double> xy;
    xy.reserve(polygon.size());
    for (const json& value : polygon) {
        if (!value.is_number())
            throw std::invalid_argument("a polygon must be an array of numbers");
        const double v = value.get<double>();
        if (!std::isfinite(v)) throw std::invalid_argument("a polygon coordinate is not finite");
        xy.push_back(v);
    }
    return xy;
}

}  // namespace

SegmentationValue::SegmentationValue(const json& value, int height, int width)
    : height_(height), width_(width) {
    if (value.is_object()) {
        rles_.push_back(ParseRle(value, height, width));
        return;
    }
    if (!value.is_array()) {
        throw std::invalid_argument("segmentation must be polygons or an RLE");
    }
    if (!value.empty() && value[0].is_object()) {
        for (const json& rle : value) {
            if (!rle.is_object()) throw std::invalid_argument("a list of RLEs holds a non-RLE");
            rles_.push_back(ParseRle(rle, height, width));
        }
        return;
    }
    polygons_.reserve(value.size());
    for (const json& polygon : value) polygons_.push_back(PolygonCoordinates(polygon));
}

Rle SegmentationValue::CocoMask() const {
    if (!rles_.empty()) return RleMerge(rles_);
    std::vector<Rle> parts;
    parts.reserve(polygons_.size());
    for (const std::vector<double>& polygon : polygons_) {
        parts.push_back(RleFromPolygon(polygon, height_, width_));
    }
    if (parts.empty()) return Rle{height_, width_, {static_cast<std::uint32_t>(height_ * width_)}};
    if (parts.size() == 1) return std::move(parts[0]);  // what merging one mask gives, uncopied
    return RleMerge(parts);
}

Rle SegmentationValue::PixelMask() const {
    if (!rles_.empty()) return RleMerge(rles_);
    std::vector<PixelSpan> spans;
    for (const std::vector<double>& xy : polygons_) {
        std::vector<Point> outline;
        for (std::size_t i = 0; i + 1 < xy.size(); i += 2) outline.push_back({xy[i], xy[i + 1]});
        const std::vector<PixelSpan> part = OutlineSpans(outline, width_, height_);
        spans.insert(spans.end(), part.begin(), part.end());
    }
    return RleFromSpans(spans, height_, width_);
}

Box ParseBox(const json& value) {
    if (!value.is_array() || value.size() != 4) {
        throw std::invalid_argument("bbox must be [x, y, width, height]");
    }
    double v[4];
    for (int i = 0; i < 4; ++i) {
        if (!value[i].is_number()) throw std::invalid_argument("bbox must hold numbers");
        v[i] = value[i].get<double>();
        if (!std::isfinite(v[i])) throw std::invalid_argument("bbox holds a non-finite number");
    }
    return {v[0], v[1], v[2], v[3]};
}

Rle PixelMaskOf(const std::vector<Point>& outline, int height, int width) {
    return RleFromSpans(OutlineSpans(outline, width, height), height, width);
}

}  // namespace annoxml::detail
