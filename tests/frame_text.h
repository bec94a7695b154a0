// A frame written out in full, coordinates exactly, so that two ways of reading the same file can
// be compared as text and a difference shows where it is.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "annoxml/frame.h"

namespace annoxml::test {

inline std::string FrameText(const Frame& frame) {
    std::string text;
    const auto line = [&text](const std::string& item) { text += item + "\n"; };
    const auto points = [](const std::vector<Point>& list) {
        std::string out;
        char number[64];
        for (const Point& point : list) {
            std::snprintf(number, sizeof number, " %a,%a", point.x, point.y);
            out += number;
        }
        return out;
    };
    line(frame.source + " | " + frame.fileName + " | " + std::to_string(frame.width) + "x" +
         std::to_string(frame.height) + " | " + frame.user + " | " + frame.captured);
    for (const Label& label : frame.labels) line("label " + label.name + " | " + label.color);
    for (const Mask& mask : frame.masks) {
        line("mask " + mask.index + " | " + mask.description + " | " + mask.color);
    }
    for (const Region& region : frame.regions) {
        char numbers[160];
        std::snprintf(numbers, sizeof numbers, "%a [%a %a %a %a]", region.area, region.box.x,
                      region.box.y, region.box.width, region.box.height);
        line(std::string("region ") + KindName(region.kind) + " | " + region.index + " | " +
             region.label + " | " + region.description + " | " + region.color + " | " +
             (region.mask ? "in mask " + *region.mask : "no mask") + " | " + numbers + " |" +
             points(region.outline));
    }
    for (const Mark& mark : frame.marks) {
        std::string parts;
        for (const std::vector<Point>& part : mark.parts) parts += " (" + points(part) + " )";
        line(std::string("mark ") + KindName(mark.kind) + " | " + mark.index + " | " + mark.label +
             " | " + mark.description + " | " + mark.color + " | " + mark.text + " |" + parts);
    }
    return text;
}

// What reading gives: the frame and the problems found, or the error.
template <typename Read>
std::string ReadingText(Read read) {
    try {
        std::vector<std::string> problems;
        std::string text = FrameText(read(&problems));
        for (const std::string& problem : problems) text += "problem " + problem + "\n";
        return text;
    } catch (const std::exception& error) {
        return std::string("error ") + error.what() + "\n";
    }
}

}  // namespace annoxml::test
