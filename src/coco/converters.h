#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "annoxml/reader.h"
#include "coco/label_table.h"

namespace annoxml::detail {

// The texts of one shape that its annotation is made from.
struct ShapeText {
    std::string_view index;
    std::string_view points;
    std::string_view center;  // circles only
};

// The numbers of one annotation. Kept between shapes, so that their buffers are reused.
struct Geometry {
    std::vector<double> points;
    std::vector<double> center;
    std::vector<double> segmentation;
    std::array<double, 4> bbox{};
    std::optional<double> area;  // none for circles: written as null
};

// One shape kind that becomes annotations: its element, reader, geometry and mask key.
struct AnnotatedKind {
    const char* name;
    FieldMapList (*read)(const pugi::xml_document&);
    void (*measure)(const char* kind, const ShapeText& shape, Geometry& geometry);
    const char* maskKey;
};

// Rectangles, circles and polygons, in the order in which annotations number them.
extern const AnnotatedKind kAnnotatedKinds[3];

// Fills `geometry` for one shape. Throws std::runtime_error naming the shape when its coordinates
// are too few, odd for a polygon, or give a value that is not finite.
void Measure(const AnnotatedKind& kind, const ShapeText& shape, Geometry& geometry);

// The "annotations" array of `doc`, with labels resolved against `labels`.
nlohmann::ordered_json BuildAnnotations(const pugi::xml_document& doc, const LabelTable& labels);

}  // namespace annoxml::detail
