// Coordinate texts, bounding boxes, joined texts and dates.
#pragma once

#include <string>
#include <vector>

#include <pugixml.hpp>

#include "annoxml/export.h"

// Splits "x0,y0,x1,y1,..." into numbers. A token that is not a number, or is out of the range of
// double, is left out and reported on standard error as "Invalid argument: invalid stod argument"
// or "Out of range: stod argument out of range". Numbers are read with '.' as the decimal point
// whatever the process locale.
ANNOXML_API std::vector<double> ParsePoints(const std::string& text);

// {min x, min y, max x, max y} of a flat x, y list. Throws std::invalid_argument for an empty list
// or an odd number of values.
ANNOXML_API std::vector<double> CalculateBoundingBox(const std::vector<double>& points);

// Joins the items with the separator; the separator is written only once the text is non-empty.
ANNOXML_API std::string Join(const std::vector<std::string>& items, const std::string& separator);

// The local year ("2026") and date ("2026/12/07").
ANNOXML_API std::string GetCurrentYear();
ANNOXML_API std::string GetCurrentDateFormatted();

// The element's Label attribute, "" when it has none.
ANNOXML_API std::string ParseLabelOnAnnotation(const pugi::xml_node& element);
