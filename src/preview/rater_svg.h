// Several raters' regions of one frame in one drawing, each rater in a colour of its own.
#pragma once

#include <string>
#include <vector>

#include "annoxml/frame.h"
#include "preview/color.h"

namespace annoxml::detail {

struct RaterLayer {
    const Frame* frame = nullptr;
    std::string name;
    Rgba color;
};

// An <svg> as RenderFrameSvg draws it (the size of the first layer's frame), with every layer's
// regions outlined and lightly filled in the layer's colour, a <title> naming the rater.
std::string RaterRegionsSvg(const std::vector<RaterLayer>& layers, bool background);

}  // namespace annoxml::detail
