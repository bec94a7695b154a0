#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string_view>

#include "util/points.h"

#include "annoxml/util.h"
#include "platform/platform.h"

namespace {

enum class Conversion { ok, invalid, outOfRange };

// std::stod's rules (leading white space skipped, longest valid prefix read, the rest ignored),
// independent of the process locale: numbers in annotation files always use '.'.
Conversion ReadDouble(const std::string& token, double& value) {
    const char* begin = token.c_str();
    char* end = nullptr;
    errno = 0;
    value = annoxml::platform::ReadDouble(begin, &end);
    if (end == begin) {
        return Conversion::invalid;
    }
    return errno == ERANGE ? Conversion::outOfRange : Conversion::ok;
}

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
constexpr int kMaxExactDigits = 15;  // 10^15 < 2^53: the digits form an exact double

// The token when it is a plain decimal ("-12.375") of at most 15 digits, which is the common
// case. Digits and power of ten are then both exact doubles, so one division rounds correctly
// and gives what strtod gives. Anything else is left to ReadDouble.
bool ReadPlainDecimal(std::string_view token, double& value) {
    const char* p = token.data();
    const char* const end = p + token.size();
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    std::uint64_t digits = 0;
    int count = 0;
    int fraction = -1;  // digits after the point, -1 before it
    for (; p != end; ++p) {
        if (*p >= '0' && *p <= '9') {
            digits = digits * 10 + static_cast<unsigned>(*p - '0');
            if (++count > kMaxExactDigits) return false;
            if (fraction >= 0) ++fraction;
        } else if (*p == '.' && fraction < 0) {
            fraction = 0;
        } else {
            return false;
        }
    }
    if (count == 0) return false;
    value = static_cast<double>(digits);
    if (fraction > 0) value /= kPowersOfTen[fraction];
    if (negative) value = -value;
    return true;
}

Conversion ReadToken(std::string_view token, double& value, std::string& scratch) {
    if (ReadPlainDecimal(token, value)) {
        return Conversion::ok;
    }
    scratch.assign(token);
    return ReadDouble(scratch, value);
}

}  // namespace

namespace annoxml::detail {

// Tokens as std::getline(stream, token, ',') gives them: an empty text gives none, and a final
// ',' gives no empty last token.
void AppendPoints(std::string_view text, std::vector<double>& values) {
    std::string scratch;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        double value = 0;
        switch (ReadToken(text.substr(start, comma - start), value, scratch)) {
            case Conversion::ok:
                values.push_back(value);
                break;
            case Conversion::invalid:
                std::cerr << "Invalid argument: "
                          << "invalid stod argument" << std::endl;
                break;
            case Conversion::outOfRange:
                std::cerr << "Out of range: "
                          << "stod argument out of range" << std::endl;
                break;
        }
        start = comma + 1;
    }
}

std::array<double, 4> BoundingBox(const double* values, std::size_t count) {
    double minX = values[0];
    double minY = values[1];
    double maxX = values[0];
    double maxY = values[1];
    for (std::size_t i = 0; i < count; i += 2) {
        const double x = values[i];
        const double y = values[i + 1];
        if (minX > x) minX = x;
        if (x > maxX) maxX = x;
        if (minY > y) minY = y;
        if (y > maxY) maxY = y;
    }
    return {minX, minY, maxX, maxY};
}

}  // namespace annoxml::detail

std::vector<double> ParsePoints(const std::string& text) {
    std::vector<double> values;
    annoxml::detail::AppendPoints(text, values);
    return values;
}

std::vector<double> CalculateBoundingBox(const std::vector<double>& points) {
    if (points.empty() || points.size() % 2 != 0) {
        throw std::invalid_argument(
            "CalculateBoundingBox needs a non-empty list of x, y pairs; got " +
            std::to_string(points.size()) + " values");
    }
    const std::array<double, 4> box = annoxml::detail::BoundingBox(points.data(), points.size());
    return {box.begin(), box.end()};
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
    std::string joined;
    for (const std::string& item : items) {
        if (!joined.empty()) {
            joined += separator;
        }
        joined += item;
    }
    return joined;
}

std::string ParseLabelOnAnnotation(const pugi::xml_node& element) {
    return element.attribute("Label").value();
}
