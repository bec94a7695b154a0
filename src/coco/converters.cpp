// Rectangles, circles and polygons to COCO annotation objects; masks to COCO mask objects.
#include "coco/converters.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "annoxml/coco.h"
#include "annoxml/reader.h"
#include "annoxml/util.h"

namespace annoxml::detail {
namespace {

using Json = nlohmann::ordered_json;

struct Geometry {
    std::vector<double> segmentation;
    std::vector<double> bbox;
    std::optional<double> area;  // none for circles: written as null
};

// One shape kind that becomes annotations: its reader, its geometry and its mask key.
struct AnnotatedKind {
    const char* name;
    FieldMapList (*read)(const pugi::xml_document&);
    Geometry (*measure)(const char* kind, const FieldMap& shape);
    const char* maskKey;
};

std::string Describe(const char* kind, const FieldMap& shape) {
    const std::string& index = shape.at("index");
    return std::string(kind) + (index.empty() ? " without Index" : " with Index " + index);
}

[[noreturn]] void FailShape(const char* kind, const FieldMap& shape, const std::string& problem) {
    throw std::runtime_error(Describe(kind, shape) + " " + problem);
}

void RequireAtLeast(const char* kind, const FieldMap& shape, const std::vector<double>& values,
                    std::size_t needed, const char* what = "coordinates") {
    if (values.size() < needed) {
        FailShape(kind, shape,
                  "has " + std::to_string(values.size()) + " " + what + "; " +
                      std::to_string(needed) + " are needed");
    }
}

Geometry MeasureRectangle(const char* kind, const FieldMap& shape) {
    const std::vector<double> p = ParsePoints(shape.at("points"));
    RequireAtLeast(kind, shape, p, 6);
    const double x1 = p[0], y1 = p[1], x3 = p[4], y3 = p[5];
    return {{x1, y1, x3, y1, x3, y3, x1, y3, x1, y1},
            {x1, y1, x3 - x1, y3 - y1},
            (y3 - y1) * (x3 - x1)};
}

Geometry MeasureCircle(const char* kind, const FieldMap& shape) {
    const std::vector<double> p = ParsePoints(shape.at("points"));
    const std::vector<double> c = ParsePoints(shape.at("center"));
    RequireAtLeast(kind, shape, p, 2);
    RequireAtLeast(kind, shape, c, 2, "centre coordinates");
    const double r = c[0] - p[0];
    return {p, {c[0] - r, c[1] - r, 2 * r, 2 * r}, std::nullopt};
}

Geometry MeasurePolygon(const char* kind, const FieldMap& shape) {
    std::vector<double> p = ParsePoints(shape.at("points"));
    RequireAtLeast(kind, shape, p, 2);
    if (p.size() % 2 != 0) {
        FailShape(kind, shape,
                  "has " + std::to_string(p.size()) + " coordinates; an even number is needed");
    }
    const std::vector<double> box = CalculateBoundingBox(p);
    const double width = box[2] - box[0];
    const double height = box[3] - box[1];
    p.push_back(p[0]);
    p.push_back(p[1]);
    return {std::move(p), {box[0], box[1], width, height}, height * width};
}

const AnnotatedKind kAnnotatedKinds[] = {
    {"Rectangle", ParseRectangleAnnotations, MeasureRectangle, "mask_id"},
    {"Circle", ParseCircleAnnotations, MeasureCircle, "mask_id"},
    {"Polygon", ParsePolygonAnnotations, MeasurePolygon, "maskId"},
};

bool AllFinite(const Geometry& geometry) {
    const auto finite = [](double v) { return std::isfinite(v); };
    return std::all_of(geometry.segmentation.begin(), geometry.segmentation.end(), finite) &&
           std::all_of(geometry.bbox.begin(), geometry.bbox.end(), finite) &&
           (!geometry.area || finite(*geometry.area));
}

void AppendAnnotations(const pugi::xml_document& doc, const AnnotatedKind& kind,
                       const LabelTable& labels, Json& annotations, int& annotationId) {
    for (const FieldMap& shape : kind.read(doc)) {
        const Geometry geometry = kind.measure(kind.name, shape);
        if (!AllFinite(geometry)) {
            FailShape(kind.name, shape,
                      "has a coordinate, size or area that is not a finite number");
        }
        Json annotation;
        annotation["id"] = annotationId;
        annotation["image_id"] = 1;
        annotation["category_id"] = CategoryId(labels, shape.at("label"));
        annotation["segmentation"] = Json::array({geometry.segmentation});
        annotation["bbox"] = geometry.bbox;
        annotation["area"] = geometry.area ? Json(*geometry.area) : Json(nullptr);
        annotation["iscrowd"] = 0;
        if (const auto mask = shape.find("mask_id"); mask != shape.end()) {
            annotation[kind.maskKey] = mask->second;
        }
        annotations.push_back(std::move(annotation));
        ++annotationId;
    }
}

}  // namespace

Json BuildAnnotations(const pugi::xml_document& doc, const LabelTable& labels) {
    Json annotations = Json::array();
    int annotationId = 1;
    for (const AnnotatedKind& kind : kAnnotatedKinds) {
        AppendAnnotations(doc, kind, labels, annotations, annotationId);
    }
    return annotations;
}

}  // namespace annoxml::detail

using annoxml::detail::AppendAnnotations;
using annoxml::detail::kAnnotatedKinds;
using annoxml::detail::LastConversionLabels;

nlohmann::ordered_json GetMasks(const pugi::xml_document& doc) {
    nlohmann::ordered_json masks = nlohmann::ordered_json::array();
    int maskId = 1;
    for (const FieldMap& mask : ParseMask(doc)) {
        nlohmann::ordered_json object;
        object["id"] = maskId++;
        object["description"] = mask.at("description");
        object["index"] = mask.at("index");
        object["color"] = mask.at("color");
        masks.push_back(std::move(object));
    }
    return masks;
}

nlohmann::ordered_json GetAnnotations(const pugi::xml_document& doc) {
    return annoxml::detail::BuildAnnotations(doc, LastConversionLabels());
}

void GetRectangles(const pugi::xml_document& doc, nlohmann::ordered_json& annotations,
                   int& annotationId) {
    AppendAnnotations(doc, kAnnotatedKinds[0], LastConversionLabels(), annotations, annotationId);
}

void GetCircles(const pugi::xml_document& doc, nlohmann::ordered_json& annotations,
                int& annotationId) {
    AppendAnnotations(doc, kAnnotatedKinds[1], LastConversionLabels(), annotations, annotationId);
}

void GetPolygons(const pugi::xml_document& doc, nlohmann::ordered_json& annotations,
                 int& annotationId) {
    AppendAnnotations(doc, kAnnotatedKinds[2], LastConversionLabels(), annotations, annotationId);
}
