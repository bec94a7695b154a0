#include "frame/geometry.h"

#include <algorithm>
#include <cmath>

#include "platform/platform.h"

namespace annoxml::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTolerance = 0.25;
// Sampled vertices are rounded to hundredths of a pixel: exports write them short (12.34, not
// 12.340000000000002), and the area and box computed from them describe what is written.
constexpr double kStepsPerPixel = 100;
// Rounding moves a vertex by at most half a step along x and along y. The vertex count keeps that
// much of the tolerance for it, so that edges still stay within kTolerance of the curve.
constexpr double kRoundingShift = 0.5 / kStepsPerPixel * 1.4142135623730951;
constexpr int kMinVertices = 8;
// Bounds the outline of absurdly large shapes; at this count a radius up to ~160,000 px still
// stays within the tolerance.
constexpr int kMaxVertices = 4096;

// Outlines of shapes with at most this many vertices share their angles' cosines and sines.
constexpr int kMaxSharedVertices = 256;

// cos and sin of the angles 2*pi*i/n, i < n, as {x, y}: computed once per thread for each vertex
// count of everyday sizes, since shapes of one size come by the thousand.
const std::vector<Point>& UnitCircle(int n) {
    auto& shared = platform::PerThread<std::vector<std::vector<Point>>>(
        [] { return std::vector<std::vector<Point>>(kMaxSharedVertices + 1); });
    auto& large = platform::PerThread<std::vector<Point>>([] { return std::vector<Point>(); });
    std::vector<Point>& angles = n <= kMaxSharedVertices ? shared[n] : large;
    if (angles.size() != static_cast<std::size_t>(n)) {
        angles.clear();
        angles.reserve(n);
        for (int i = 0; i < n; ++i) {
            const double t = 2 * kPi * i / n;
            angles.push_back({std::cos(t), std::sin(t)});
        }
    }
    return angles;
}

// `value` to the nearest hundredth (ties to even), without a library call: past 2^51 / 100 there
// is nothing left to round.
double RoundToStep(double value) {
    const double steps = value * kStepsPerPixel;
    if (!(std::fabs(steps) < 0x1p51)) return value;
    const double shift = std::copysign(0x1p52, steps);
    return ((steps + shift) - shift) / kStepsPerPixel;
}

// The vertices of an ellipse around `center` with semi-axes a, along the direction (cosAngle,
// sinAngle), and b, rounded to hundredths.
std::vector<Point> SampleEllipse(Point center, double a, double b, double cosAngle,
                                 double sinAngle) {
    const std::vector<Point>& angles = UnitCircle(OutlineVertexCount(std::max(a, b)));
    std::vector<Point> outline;
    outline.reserve(angles.size());
    for (const Point& angle : angles) {
        const double u = a * angle.x;
        const double v = b * angle.y;
        outline.push_back({RoundToStep(center.x + u * cosAngle - v * sinAngle),
                           RoundToStep(center.y + u * sinAngle + v * cosAngle)});
    }
    return outline;
}

// One side of the image rectangle: points p with inside(p) are kept.
struct Side {
    bool vertical;  // x = at, else y = at
    double at;
    bool keepBelow;  // keep coordinates <= at, else >= at
};

bool Inside(const Point& p, const Side& side) {
    const double v = side.vertical ? p.x : p.y;
    return side.keepBelow ? v <= side.at : v >= side.at;
}

Point Intersection(const Point& a, const Point& b, const Side& side) {
    const double t = side.vertical ? (side.at - a.x) / (b.x - a.x) : (side.at - a.y) / (b.y - a.y);
    Point p{a.x * (1 - t) + b.x * t, a.y * (1 - t) + b.y * t};
    (side.vertical ? p.x : p.y) = side.at;  // exactly on the side, whatever the rounding
    return p;
}

std::vector<Point> ClipBy(const std::vector<Point>& outline, const Side& side) {
    std::vector<Point> kept;
    for (std::size_t i = 0; i < outline.size(); ++i) {
        const Point& a = outline[i];
        const Point& b = outline[(i + 1) % outline.size()];
        const bool aIn = Inside(a, side);
        const bool bIn = Inside(b, side);
        if (aIn) kept.push_back(a);
        if (aIn != bIn) kept.push_back(Intersection(a, b, side));
    }
    return kept;
}

}  // namespace

std::vector<Point> RectangleOutline(Point first, Point third) {
    const double left = std::min(first.x, third.x);
    const double right = std::max(first.x, third.x);
    const double top = std::min(first.y, third.y);
    const double bottom = std::max(first.y, third.y);
    return {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
}

int OutlineVertexCount(double radius) {
    if (!(radius > kTolerance)) {
        return kMinVertices;
    }
    // An edge spanning the angle 2*pi/n strays r * (1 - cos(pi/n)) from the circle, and rounding
    // its ends moves it by at most kRoundingShift more.
    const double n = std::ceil(kPi / std::acos(1 - (kTolerance - kRoundingShift) / radius));
    return static_cast<int>(std::clamp<double>(n, kMinVertices, kMaxVertices));
}

std::vector<Point> CircleOutline(Point center, double radius) {
    return SampleEllipse(center, radius, radius, 1, 0);
}

std::vector<Point> EllipseOutline(Point axisStart, Point axisEnd, double otherRadius) {
    const Point center{(axisStart.x + axisEnd.x) / 2, (axisStart.y + axisEnd.y) / 2};
    const double length = Distance(axisStart, axisEnd);
    const double cosAngle = length > 0 ? (axisEnd.x - axisStart.x) / length : 1;
    const double sinAngle = length > 0 ? (axisEnd.y - axisStart.y) / length : 0;
    return SampleEllipse(center, length / 2, otherRadius, cosAngle, sinAngle);
}

double ShoelaceArea(const std::vector<Point>& outline) {
    double twice = 0;
    for (std::size_t i = 0; i < outline.size(); ++i) {
        const Point& a = outline[i];
        const Point& b = outline[(i + 1) % outline.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return std::abs(twice) / 2;
}

Box BoxOf(const std::vector<Point>& outline) {
    if (outline.empty()) {
        return {};
    }
    double left = outline[0].x, right = left, top = outline[0].y, bottom = top;
    for (const Point& point : outline) {
        left = std::min(left, point.x);
        right = std::max(right, point.x);
        top = std::min(top, point.y);
        bottom = std::max(bottom, point.y);
    }
    return {left, top, right - left, bottom - top};
}

double Distance(Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); }

double DistanceFromLine(Point point, Point a, Point b) {
    const double length = Distance(a, b);
    if (length == 0) {
        return Distance(point, a);
    }
    const double cross = (b.x - a.x) * (point.y - a.y) - (b.y - a.y) * (point.x - a.x);
    return std::abs(cross) / length;
}

std::vector<Point> ClipToImage(const std::vector<Point>& outline, double width, double height) {
    const bool finite = std::all_of(outline.begin(), outline.end(), [](const Point& p) {
        return std::isfinite(p.x) && std::isfinite(p.y);
    });
    if (!finite) {
        return {};
    }
    std::vector<Point> clipped = outline;
    for (const Side& side : {Side{true, 0, false}, Side{true, width, true}, Side{false, 0, false},
                             Side{false, height, true}}) {
        if (clipped.empty()) break;
        clipped = ClipBy(clipped, side);
    }
    return clipped;
}

}  // namespace annoxml::detail
