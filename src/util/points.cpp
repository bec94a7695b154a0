#include <locale.h>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "annoxml/util.h"

namespace {

// Numbers in annotation files always use '.', so they are read in the "C" locale rather than in
// whatever locale the host process has set.
locale_t CLocale() {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return cLocale;
}

enum class Conversion { ok, invalid, outOfRange };

// std::stod's rules (leading white space skipped, longest valid prefix read, the rest ignored),
// independent of the process locale.
Conversion ReadDouble(const std::string& token, double& value) {
    const char* begin = token.c_str();
    char* end = nullptr;
    errno = 0;
    value = strtod_l(begin, &end, CLocale());
    if (end == begin) {
        return Conversion::invalid;
    }
    return errno == ERANGE ? Conversion::outOfRange : Conversion::ok;
}

}  // namespace

std::vector<double> ParsePoints(const std::string& text) {
    std::vector<double> values;
    std::istringstream stream(text);
    std::string token;
    while (std::getline(stream, token, ',')) {
        double value = 0;
        switch (ReadDouble(token, value)) {
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
    }
    return values;
}

std::vector<double> CalculateBoundingBox(const std::vector<double>& points) {
    if (points.empty() || points.size() % 2 != 0) {
        throw std::invalid_argument(
            "CalculateBoundingBox needs a non-empty list of x, y pairs; got " +
            std::to_string(points.size()) + " values");
    }
    double minX = points[0];
    double minY = points[1];
    double maxX = points[0];
    double maxY = points[1];
    for (std::size_t i = 0; i < points.size(); i += 2) {
        const double x = points[i];
        const double y = points[i + 1];
        if (minX > x) minX = x;
        if (x > maxX) maxX = x;
        if (minY > y) minY = y;
        if (y > maxY) maxY = y;
    }
    return {minX, minY, maxX, maxY};
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
