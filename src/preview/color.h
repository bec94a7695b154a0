// Annotation colours ("#RGB", "#RRGGBB", "#RRGGBBAA") as SVG paint.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "annoxml/frame.h"

namespace annoxml::detail {

struct Rgba {
    int red = 0;
    int green = 0;
    int blue = 0;
    double alpha = 1;
};

// Drawn where a shape has no usable colour.
inline constexpr Rgba kDefaultColor{0, 200, 255, 1};

// Reads "#RGB", "#RRGGBB" or "#RRGGBBAA" (alpha last), case-insensitive; nothing otherwise.
std::optional<Rgba> ParseColor(std::string_view text);

// "rgb(229,57,53)": SVG paint without alpha; opacity goes to the *-opacity attributes, which
// every SVG renderer understands.
std::string RgbText(const Rgba& color);

// The colour of the label `name` in the frame's label list, when it has a usable one.
std::optional<Rgba> LabelColor(const std::vector<Label>& labels, const std::string& name);

// The first of the candidates that is a usable colour, else the default.
Rgba FirstUsable(std::initializer_list<std::optional<Rgba>> candidates);

}  // namespace annoxml::detail
