#include "preview/color.h"

namespace annoxml::detail {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The channels of a hex text, one or two digits each; nothing if any digit is not hex.
std::optional<std::vector<int>> HexChannels(std::string_view digits, std::size_t width) {
    std::vector<int> channels;
    for (std::size_t at = 0; at < digits.size(); at += width) {
        int value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const int digit = HexDigit(digits[at + i]);
            if (digit < 0) return std::nullopt;
            value = value * 16 + digit;
        }
        channels.push_back(width == 1 ? value * 17 : value);
    }
    return channels;
}

}  // namespace

std::optional<Rgba> ParseColor(std::string_view text) {
    if (text.empty() || text.front() != '#') return std::nullopt;
    const std::string_view digits = text.substr(1);
    const std::size_t width = digits.size() == 3 ? 1 : 2;
    if (digits.size() != 3 && digits.size() != 6 && digits.size() != 8) return std::nullopt;
    const std::optional<std::vector<int>> channels = HexChannels(digits, width);
    if (!channels) return std::nullopt;
    Rgba color{(*channels)[0], (*channels)[1], (*channels)[2], 1};
    if (channels->size() == 4) color.alpha = (*channels)[3] / 255.0;
    return color;
}

std::string RgbText(const Rgba& color) {
    return "rgb(" + std::to_string(color.red) + "," + std::to_string(color.green) + "," +
           std::to_string(color.blue) + ")";
}

std::optional<Rgba> LabelColor(const std::vector<Label>& labels, const std::string& name) {
    for (const Label& label : labels) {
        if (label.name == name) return ParseColor(label.color);
    }
    return std::nullopt;
}

Rgba FirstUsable(std::initializer_list<std::optional<Rgba>> candidates) {
    for (const std::optional<Rgba>& candidate : candidates) {
        if (candidate) return *candidate;
    }
    return kDefaultColor;
}

}  // namespace annoxml::detail
