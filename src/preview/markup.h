// Text pieces of the preview pages: escaping, numbers, links.
#pragma once

#include <string>
#include <string_view>

namespace annoxml::detail {

// Escapes &, <, >, " and ' so that the text is safe in HTML and SVG content and attribute values.
std::string EscapeMarkup(std::string_view text);

// Fixed-point with at most `decimals` digits after the point, trailing zeros dropped ("12.5",
// "7", "-0.25"), whatever the process locale.
std::string FormatNumber(double value, int decimals = 2);

// A relative path as a URL path: every byte other than letters, digits, "-._~/" as %XX.
std::string PercentEncodePath(std::string_view path);

}  // namespace annoxml::detail
