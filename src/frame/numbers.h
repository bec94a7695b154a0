// Strict reading of the values in annotation files: every token must be a finite number, every
// text valid UTF-8.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace annoxml::detail {

// A decimal number in the C locale, white space around it allowed. nullopt for anything else.
std::optional<double> ParseNumber(std::string_view text);

// A positive integer that fits an int, white space around it allowed.
std::optional<int> ParsePositiveInt(std::string_view text);

std::string_view Trimmed(std::string_view text);

// Well-formed UTF-8: no stray continuation bytes, overlong forms, surrogates or values above
// U+10FFFF.
bool IsValidUtf8(std::string_view text);

}  // namespace annoxml::detail
