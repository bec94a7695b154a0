// Frames built in code for the tests of what is made from them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "annoxml/frame.h"

namespace annoxml::test {

inline Region MakeRegion(ShapeKind kind, std::string index, std::string label,
                         std::vector<Point> outline, std::optional<std::string> mask = {}) {
    Region region;
    region.kind = kind;
    region.index = std::move(index);
    region.label = std::move(label);
    region.outline = std::move(outline);
    region.mask = std::move(mask);
    return region;
}

inline Region MakeBox(std::string index, std::string label, double x, double y, double w,
                      double h) {
    return MakeRegion(ShapeKind::Rectangle, std::move(index), std::move(label),
                      {{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}});
}

inline Mark MakeMark(ShapeKind kind, std::string index, std::vector<std::vector<Point>> parts,
                     std::string text = "") {
    Mark mark;
    mark.kind = kind;
    mark.index = std::move(index);
    mark.parts = std::move(parts);
    mark.text = std::move(text);
    return mark;
}

inline Frame MakeFrame(std::string fileName, int width = 200, int height = 100) {
    Frame frame;
    frame.source = "frames/" + fileName + ".xml";
    frame.fileName = std::move(fileName);
    frame.width = width;
    frame.height = height;
    frame.user = "tester";
    frame.captured = "2026/03/14 10:42:17";
    return frame;
}

}  // namespace annoxml::test
