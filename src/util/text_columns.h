// Columns of the tools' plain-text tables. Widths count UTF-8 characters, not bytes, so that rows
// naming "Œdème" line up with rows naming "Polyp".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace annoxml::detail {

inline std::size_t Characters(std::string_view text) {
    std::size_t count = 0;
    for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

// `text` filled with spaces to `width` characters: after it, or before it when `right`.
inline std::string Padded(const std::string& text, std::size_t width, bool right = false) {
    const std::size_t length = Characters(text);
    if (length >= width) return text;
    const std::string fill(width - length, ' ');
    return right ? fill + text : text + fill;
}

}  // namespace annoxml::detail
