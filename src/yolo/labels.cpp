// YOLO label lines: regions clipped to the image and normalised by its size.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

#include "annoxml/yolo.h"
#include "frame/geometry.h"

namespace annoxml {
namespace {

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
    return detail::ClipToImage(outline, width, height);
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
