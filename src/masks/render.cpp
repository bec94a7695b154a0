// Which value each region paints, by mode.
#include <limits>
#include <stdexcept>

#include "annoxml/masks.h"

namespace annoxml {
namespace {

constexpr int kLargest16Bit = std::numeric_limits<std::uint16_t>::max();

int DepthFor(const MaskRequest& request) {
    switch (request.mode) {
        case MaskMode::Binary:
            return 8;
        case MaskMode::Category:
            return request.largestCategoryId > 255 ? 16 : 8;
        case MaskMode::Instance:
            return 16;
    }
    return 16;
}

std::uint16_t ValueFor(const MaskRequest& request, std::size_t region, int depth) {
    int value = 255;
    if (request.mode == MaskMode::Category) {
        value = request.categoryIds[region];
    } else if (request.mode == MaskMode::Instance) {
        value = static_cast<int>(region + 1);
    }
    if (value < 1 || value > (1 << depth) - 1) {
        throw std::invalid_argument("mask value " + std::to_string(value) + " does not fit " +
                                    std::to_string(depth) + " bits");
    }
    return static_cast<std::uint16_t>(value);
}

void CheckRequest(const Frame& frame, const MaskRequest& request) {
    const std::size_t regions = frame.regions.size();
    if ((request.mode == MaskMode::Category && request.categoryIds.size() != regions) ||
        (!request.selected.empty() && request.selected.size() != regions)) {
        throw std::invalid_argument("mask request does not have one entry per region");
    }
    if (request.mode == MaskMode::Category && request.largestCategoryId > kLargest16Bit) {
        throw std::invalid_argument("category id " + std::to_string(request.largestCategoryId) +
                                    " does not fit a 16-bit mask");
    }
}

}  // namespace

MaskMode ParseMaskMode(const std::string& name) {
    if (name == "binary") return MaskMode::Binary;
    if (name == "category") return MaskMode::Category;
    if (name == "instance") return MaskMode::Instance;
    throw std::invalid_argument("unknown mask mode \"" + name +
                                "\" (binary, category or instance)");
}

MaskImage RenderMask(const Frame& frame, const MaskRequest& request) {
    CheckRequest(frame, request);
    const int depth = DepthFor(request);
    MaskImage image(frame.width, frame.height, depth);
    for (std::size_t i = 0; i < frame.regions.size(); ++i) {
        if (request.selected.empty() || request.selected[i]) {
            image.Paint(frame.regions[i].outline, ValueFor(request, i, depth));
        }
    }
    return image;
}

}  // namespace annoxml
