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

// Reads the token at `p` when it is a plain decimal ("-12.375", "+4", ".5") of at most 15
// digits, the common case, ending at `end` or at a ','; `p` is left at that end. Digits and
// power of ten are then both exact doubles, so one division rounds correctly and gives what
// strtod gives. Returns false, `p` anywhere in the token, for anything else: the caller reads it
// with the full parser.
bool ReadPlainDecimal(const char*& p, const char* end, double& value);

// {min x, min y, max x, max y} of `count` values, an even number of at least two.
std::array<double, 4> BoundingBox(const double* values, std::size_t count);

}  // namespace annoxml::detail
