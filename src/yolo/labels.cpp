// YOLO label lines: regions clipped to the image and normalised by its size.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "annoxml/yolo.h"
#include "frame/geometry.h"

namespace annoxml {
namespace {

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

void AppendNumber(std::string& line, double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, std::clamp(value, 0.0, 1.0),
                                      std::chars_format::fixed, 6);
    line += ' ';
    line.append(text, result.ptr);
}

std::string DetectLine(int classIndex, const std::vector<Point>& clipped, double width,
                       double height) {
    const Box box = detail::BoxOf(clipped);
    if (!(box.width > 0 && box.height > 0)) {
        return "";
    }
    std::string line = std::to_string(classIndex);
    AppendNumber(line, (box.x + box.width / 2) / width);
    AppendNumber(line, (box.y + box.height / 2) / height);
    AppendNumber(line, box.width / width);
    AppendNumber(line, box.height / height);
    return line;
}

std::string SegmentLine(int classIndex, const std::vector<Point>& clipped, double width,
                        double height) {
    std::string line = std::to_string(classIndex);
    for (const Point& p : clipped) {
        AppendNumber(line, p.x / width);
        AppendNumber(line, p.y / height);
    }
    return line;
}

}  // namespace

YoloTask ParseYoloTask(const std::string& name) {
    if (name == "detect") return YoloTask::Detect;
    if (name == "segment") return YoloTask::Segment;
    throw std::invalid_argument("unknown task \"" + name + "\" (detect or segment)");
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

std::string YoloLine(int classIndex, const Region& region, int width, int height, YoloTask task) {
    if (width <= 0 || height <= 0) {
        throw std::invalid_argument("image size must be positive");
    }
    const std::vector<Point> clipped = ClipToImage(region.outline, width, height);
    if (clipped.size() < 3) {
        return "";
    }
    return task == YoloTask::Detect ? DetectLine(classIndex, clipped, width, height)
                                    : SegmentLine(classIndex, clipped, width, height);
}

std::string YoloLabels(const Frame& frame, const std::vector<int>& classes, YoloTask task) {
    if (classes.size() != frame.regions.size()) {
        throw std::invalid_argument("one class per region expected");
    }
    std::string text;
    for (std::size_t i = 0; i < frame.regions.size(); ++i) {
        const std::string line =
            YoloLine(classes[i], frame.regions[i], frame.width, frame.height, task);
        if (!line.empty()) {
            text += line;
            text += '\n';
        }
    }
    return text;
}

}  // namespace annoxml
