#include <utility>

#include "annoxml/reader.h"
#include "reader/document.h"

namespace {

using ShapeReader = FieldMapList (*)(const pugi::xml_document&);

const std::pair<const char*, ShapeReader> kShapeReaders[] = {
    {"Rectangle", ParseRectangleAnnotations},
    {"Circle", ParseCircleAnnotations},
    {"Ellipse", ParseEllipseAnnotations},
    {"Polygon", ParsePolygonAnnotations},
    {"FreehandContour", ParseFreehandContourAnnotations},
    {"PolyLine", ParsePolyLineAnnotations},
    {"FreehandPolyLine", ParseFreehandPolyLineAnnotations},
    {"PointObject", ParsePointObjectAnnotations},
    {"Ruler", ParseRulerAnnotations},
    {"Text", ParseTextAnnotations},
    {"ArrowText", ParseArrowTextAnnotations},
    {"Line", ParseLineAnnotations},
    {"Angle", ParseAngleAnnotations},
    {"CobbAngle", ParseCobbAngleAnnotations},
    {"Deviation", ParseDeviationAnnotations},
};

}  // namespace

AnnotationTable GetAllAnnotations(const pugi::xml_document& doc) {
    AnnotationTable allAnnotations;
    for (const auto& [kind, read] : kShapeReaders) {
        allAnnotations[kind] = read(doc);
    }
    return allAnnotations;
}

AnnotationTable GetAllAnnotations(const std::string& path) {
    return annoxml::detail::ReadFile(
        path, [](const pugi::xml_document& doc) { return GetAllAnnotations(doc); });
}
