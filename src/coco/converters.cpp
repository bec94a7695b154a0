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
#include "util/points.h"

namespace annoxml::detail {
namespace {

using Json = nlohmann::ordered_json;

std::string Describe(const char* kind, std::string_view index) {
    return std::string(kind) +
           (index.empty() ? std::string(" without Index") : " with Index " + std::string(index));
}

[[noreturn]] void FailShape(const char* kind, const ShapeText& shape, const std::string& problem) {
    throw std::runtime_error(Describe(kind, shape.index) + " " + problem);
}

void RequireAtLeast(const char* kind, const ShapeText& shape, const std::vector<double>& values,
                    std::size_t needed, const char* what = "coordinates") {
    if (values.size() < needed) {
        FailShape(kind, shape,
                  "has " + std::to_string(values.size()) + " " + what + "; " +
                      std::to_string(needed) + " are needed");
    }
}

void ReadPoints(std::string_view text, std::vector<double>& values) {
    values.clear();
    AppendPoints(text, values);
}

void MeasureRectangle(const char* kind, const ShapeText& shape, Geometry& geometry) {
    const std::vector<double>& p = geometry.points;
    ReadPoints(shape.points, geometry.points);
    RequireAtLeast(kind, shape, p, 6);
    const double x1 = p[0], y1 = p[1], x3 = p[4], y3 = p[5];
    geometry.segmentation.assign({x1, y1, x3, y1, x3, y3, x1, y3, x1, y1});
    geometry.bbox = {x1, y1, x3 - x1, y3 - y1};
    geometry.area = (y3 - y1) * (x3 - x1);
}

void MeasureCircle(const char* kind, const ShapeText& shape, Geometry& geometry) {
    const std::vector<double>& p = geometry.points;
    const std::vector<double>& c = geometry.center;
    ReadPoints(shape.points, geometry.points);
    ReadPoints(shape.center, geometry.center);
    RequireAtLeast(kind, shape, p, 2);
    RequireAtLeast(kind, shape, c, 2, "centre coordinates");
    const double r = c[0] - p[0];
    geometry.segmentation.assign(p.begin(), p.end());
    geometry.bbox = {c[0] - r, c[1] - r, 2 * r, 2 * r};
    geometry.area.reset();
}

void MeasurePolygon(const char* kind, const ShapeText& shape, Geometry& geometry) {
    std::vector<double>& p = geometry.segmentation;
    ReadPoints(shape.points, p);
    RequireAtLeast(kind, shape, p, 2);
    if (p.size() % 2 != 0) {
        FailShape(kind, shape,
                  "has " + std::to_string(p.size()) + " coordinates; an even number is needed");
    }
    const std::array<double, 4> box = BoundingBox(p.data(), p.size());
    const double width = box[2] - box[0];
    const double height = box[3] - box[1];
    p.push_back(p[0]);
    p.push_back(p[1]);
    geometry.bbox = {box[0], box[1], width, height};
    geometry.area = height * width;
}

bool AllFinite(const Geometry& geometry) {
    const auto finite = [](double v) { return std::isfinite(v); };
    return std::all_of(geometry.segmentation.begin(), geometry.segmentation.end(), finite) &&
           std::all_of(geometry.bbox.begin(), geometry.bbox.end(), finite) &&
           (!geometry.area || finite(*geometry.area));
}

ShapeText TextOf(const FieldMap& shape) {
    const auto center = shape.find("center");
    return {shape.at("index"), shape.at("points"),
            center == shape.end() ? std::string_view() : std::string_view(center->second)};
}

void AppendAnnotations(const pugi::xml_document& doc, const AnnotatedKind& kind,
                       const LabelTable& labels, Json& annotations, int& annotationId) {
    Geometry geometry;
    for (const FieldMap& shape : kind.read(doc)) {
        Measure(kind, TextOf(shape), geometry);
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

const AnnotatedKind kAnnotatedKinds[3] = {
    {"Rectangle", ParseRectangleAnnotations, MeasureRectangle, "mask_id"},
    {"Circle", ParseCircleAnnotations, MeasureCircle, "mask_id"},
    {"Polygon", ParsePolygonAnnotations, MeasurePolygon, "maskId"},
};

void Measure(const AnnotatedKind& kind, const ShapeText& shape, Geometry& geometry) {
    kind.measure(kind.name, shape, geometry);
    if (!AllFinite(geometry)) {
        FailShape(kind.name, shape, "has a coordinate, size or area that is not a finite number");
    }
}

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
