#include "preview/geometry.h"

#include <cmath>

namespace annoxml::detail {
namespace {

constexpr double kDegreesPerRadian = 180.0 / 3.14159265358979323846;

// The angle between two directions in degrees [0, 180].
std::optional<double> AngleBetween(double ax, double ay, double bx, double by) {
    const double lengths = std::hypot(ax, ay) * std::hypot(bx, by);
    if (!(lengths > 0) || !std::isfinite(lengths)) return std::nullopt;
    // atan2 of cross and dot stays exact near 0 and 180 degrees, where acos does not.
    return std::atan2(std::abs(ax * by - ay * bx), ax * bx + ay * by) * kDegreesPerRadian;
}

}  // namespace

Point Midpoint(const Point& a, const Point& b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }

std::optional<double> AngleAtVertex(const Point& a, const Point& vertex, const Point& b) {
    return AngleBetween(a.x - vertex.x, a.y - vertex.y, b.x - vertex.x, b.y - vertex.y);
}

std::optional<double> AngleBetweenLines(const std::vector<Point>& first,
                                        const std::vector<Point>& second) {
    if (first.size() < 2 || second.size() < 2) return std::nullopt;
    const std::optional<double> angle =
        AngleBetween(first.back().x - first.front().x, first.back().y - first.front().y,
                     second.back().x - second.front().x, second.back().y - second.front().y);
    if (!angle) return std::nullopt;
    return *angle > 90 ? 180 - *angle : *angle;
}

}  // namespace annoxml::detail
