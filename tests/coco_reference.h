// The conversion as it was built before the streaming writer: FieldMaps from the public readers,
// numbers through a string stream, an ordered_json tree and one dump(4). Kept as the reference
// that the streaming writer's bytes, errors and reports are compared with.
#pragma once

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "annoxml/annoxml.h"

namespace annoxml::reference {

using Json = nlohmann::ordered_json;
using Labels = std::map<std::string, int>;

// strtod in the "C" locale.
inline double ReadDouble(const char* text, char** end) {
#ifdef _WIN32
    // The Windows tests never set a locale, and MinGW's strtod reads as glibc's does.
    return std::strtod(text, end);
#else
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(text, end, cLocale);
#endif
}

inline std::vector<double> ParsePoints(const std::string& text) {
    std::vector<double> values;
    std::istringstream stream(text);
    std::string token;
    while (std::getline(stream, token, ',')) {
        char* end = nullptr;
        errno = 0;
        const double value = ReadDouble(token.c_str(), &end);
        if (end == token.c_str()) {
            std::cerr << "Invalid argument: "
                      << "invalid stod argument" << std::endl;
        } else if (errno == ERANGE) {
            std::cerr << "Out of range: "
                      << "stod argument out of range" << std::endl;
        } else {
            values.push_back(value);
        }
    }
    return values;
}

struct Geometry {
    std::vector<double> segmentation;
    std::vector<double> bbox;
    std::optional<double> area;
};

[[noreturn]] inline void FailShape(const char* kind, const FieldMap& shape,
                                   const std::string& problem) {
    const std::string& index = shape.at("index");
    throw std::runtime_error(std::string(kind) +
                             (index.empty() ? " without Index" : " with Index " + index) + " " +
                             problem);
}

inline void RequireAtLeast(const char* kind, const FieldMap& shape,
                           const std::vector<double>& values, std::size_t needed,
                           const char* what = "coordinates") {
    if (values.size() < needed) {
        FailShape(kind, shape,
                  "has " + std::to_string(values.size()) + " " + what + "; " +
                      std::to_string(needed) + " are needed");
    }
}

inline Geometry MeasureRectangle(const char* kind, const FieldMap& shape) {
    const std::vector<double> p = ParsePoints(shape.at("points"));
    RequireAtLeast(kind, shape, p, 6);
    const double x1 = p[0], y1 = p[1], x3 = p[4], y3 = p[5];
    return {{x1, y1, x3, y1, x3, y3, x1, y3, x1, y1},
            {x1, y1, x3 - x1, y3 - y1},
            (y3 - y1) * (x3 - x1)};
}

inline Geometry MeasureCircle(const char* kind, const FieldMap& shape) {
    const std::vector<double> p = ParsePoints(shape.at("points"));
    const std::vector<double> c = ParsePoints(shape.at("center"));
    RequireAtLeast(kind, shape, p, 2);
    RequireAtLeast(kind, shape, c, 2, "centre coordinates");
    const double r = c[0] - p[0];
    return {p, {c[0] - r, c[1] - r, 2 * r, 2 * r}, std::nullopt};
}

inline Geometry MeasurePolygon(const char* kind, const FieldMap& shape) {
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

inline Json Annotations(const pugi::xml_document& doc, const Labels& labels) {
    const struct {
        const char* name;
        FieldMapList (*read)(const pugi::xml_document&);
        Geometry (*measure)(const char*, const FieldMap&);
        const char* maskKey;
    } kinds[] = {
        {"Rectangle", ParseRectangleAnnotations, MeasureRectangle, "mask_id"},
        {"Circle", ParseCircleAnnotations, MeasureCircle, "mask_id"},
        {"Polygon", ParsePolygonAnnotations, MeasurePolygon, "maskId"},
    };
    Json annotations = Json::array();
    int annotationId = 1;
    for (const auto& kind : kinds) {
        for (const FieldMap& shape : kind.read(doc)) {
            const Geometry geometry = kind.measure(kind.name, shape);
            const auto finite = [](double v) { return std::isfinite(v); };
            if (!std::all_of(geometry.segmentation.begin(), geometry.segmentation.end(), finite) ||
                !std::all_of(geometry.bbox.begin(), geometry.bbox.end(), finite) ||
                (geometry.area && !finite(*geometry.area))) {
                FailShape(kind.name, shape,
                          "has a coordinate, size or area that is not a finite number");
            }
            Json annotation;
            annotation["id"] = annotationId;
            annotation["image_id"] = 1;
            const auto label = labels.find(shape.at("label"));
            if (label == labels.end()) throw std::out_of_range("invalid map<K, T> key");
            annotation["category_id"] = label->second;
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
    return annotations;
}

inline std::string ValueOf(const FieldMap& fields, const std::string& key) {
    const auto found = fields.find(key);
    return found == fields.end() ? "" : found->second;
}

// The text that the conversion of `doc` writes; throws what the conversion throws.
inline std::string CocoText(const pugi::xml_document& doc) {
    const FieldMap image = ParseImageInformation(doc);
    const FieldMap user = ParseUserInformation(doc);
    const FieldMapList labelList = ParseLabelList(doc);

    Json coco;
    coco["info"]["description"] =
        "Endoscopy annotation XML converted to COCO format by Quillmore's annotation converter";
    coco["info"]["url"] = nullptr;
    coco["info"]["year"] = GetCurrentYear();
    coco["info"]["version"] = "1.0";
    coco["info"]["contributor"] = "Quillmore";
    coco["info"]["date_created"] = GetCurrentDateFormatted();
    coco["license"]["id"] = nullptr;
    coco["license"]["name"] = nullptr;
    coco["license"]["url"] = nullptr;
    Json& images = coco["images"];
    images["id"] = 1;
    images["height"] = ValueOf(image, "height");
    images["width"] = ValueOf(image, "width");
    images["file_name"] = ValueOf(image, "file_name");
    images["license"] = nullptr;
    images["flickr_url"] = nullptr;
    images["coco_url"] = nullptr;
    images["date_captured"] = ValueOf(user, "time");
    Labels labels;
    Json categories = Json::array();
    int id = 1;
    for (const FieldMap& label : labelList) {
        const std::string name = ValueOf(label, "LabelType");
        Json category;
        category["id"] = id;
        category["name"] = name;
        category["supercategory"] = "";
        categories.push_back(std::move(category));
        labels[name] = id++;
    }
    coco["categories"] = std::move(categories);
    Json masks = Json::array();
    int maskId = 1;
    for (const FieldMap& mask : ParseMask(doc)) {
        Json object;
        object["id"] = maskId++;
        object["description"] = mask.at("description");
        object["index"] = mask.at("index");
        object["color"] = mask.at("color");
        masks.push_back(std::move(object));
    }
    coco["masks"] = std::move(masks);
    coco["annotations"] = Annotations(doc, labels);
    return coco.dump(4);
}

}  // namespace annoxml::reference
