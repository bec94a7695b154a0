// Coordinate texts read without intermediate strings, shared by ParsePoints and the conversion.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <vector>

namespace annoxml::detail {

// Appends the numbers of a coordinate text to `values`, by ParsePoints' rules and with its
// reports on standard error.
void AppendPoints(std::string_view text, std::vector<double>& values);

// {min x, min y, max x, max y} of `count` values, an even number of at least two.
std::array<double, 4> BoundingBox(const double* values, std::size_t count);

}  // namespace annoxml::detail
