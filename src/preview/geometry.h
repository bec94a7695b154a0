// Measures the preview writes beside the marks (lengths: detail::Distance in frame/geometry.h).
#pragma once

#include <optional>
#include <vector>

#include "annoxml/frame.h"
#include "frame/geometry.h"

namespace annoxml::detail {

Point Midpoint(const Point& a, const Point& b);

// The angle at `vertex` between the rays to `a` and `b`, in degrees [0, 180]; nothing when a ray
// has no length.
std::optional<double> AngleAtVertex(const Point& a, const Point& vertex, const Point& b);

// The angle between two lines, each through the first and the last of its points, in degrees
// [0, 90]; nothing when a line has fewer than two points or no length.
std::optional<double> AngleBetweenLines(const std::vector<Point>& first,
                                        const std::vector<Point>& second);

}  // namespace annoxml::detail
