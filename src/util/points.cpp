#include <algorithm>
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

void Report(Conversion conversion) {
    if (conversion == Conversion::invalid) {
        std::cerr << "Invalid argument: "
                  << "invalid stod argument" << std::endl;
    } else if (conversion == Conversion::outOfRange) {
        std::cerr << "Out of range: "
                  << "stod argument out of range" << std::endl;
    }
}

}  // namespace

namespace annoxml::detail {
namespace {

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
constexpr int kMaxExactDigits = 15;  // 10^15 < 2^53: the digits form an exact double

// The digits at `p`, appended to `digits`; `p` is left after them. Past 19 digits the sum
// wraps, but callers refuse more than 15 anyway.
const char* AppendDigits(const char* p, const char* const end, std::uint64_t& digits) {
    for (; p != end && static_cast<unsigned char>(*p - '0') < 10; ++p) {
        digits = digits * 10 + static_cast<unsigned char>(*p - '0');
    }
    return p;
}

}  // namespace

bool ReadPlainDecimal(const char*& p, const char* const end, double& value) {
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    std::uint64_t digits = 0;
    const char* const integerStart = p;
    p = AppendDigits(p, end, digits);
    std::ptrdiff_t count = p - integerStart;
    std::ptrdiff_t fraction = 0;
    if (p != end && *p == '.') {
        const char* const fractionStart = ++p;
        p = AppendDigits(p, end, digits);
        fraction = p - fractionStart;
        count += fraction;
    }
    if (count == 0 || count > kMaxExactDigits || (p != end && *p != ',')) return false;
    value = static_cast<double>(digits);
    if (fraction > 0) value /= kPowersOfTen[fraction];
    if (negative) value = -value;
    return true;
}

// Tokens as std::getline(stream, token, ',') gives them: an empty text gives none, and a final
// ',' gives no empty last token.
void AppendPoints(std::string_view text, std::vector<double>& values) {
    std::string scratch;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const char* const start = p;
        double value = 0;
        if (ReadPlainDecimal(p, end, value)) {
            values.push_back(value);
        } else {
            p = std::find(start, end, ',');
            scratch.assign(start, p);
            const Conversion conversion = ReadDouble(scratch, value);
            if (conversion == Conversion::ok) values.push_back(value);
            Report(conversion);
        }
        if (p != end) ++p;  // the ','
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
