// The fifteen shape readers: one algorithm, driven by a table of per-kind parameters.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "annoxml/reader.h"
#include "annoxml/util.h"
#include "reader/document.h"

using annoxml::detail::ChildText;
using annoxml::detail::ReadFile;

namespace {

// key <- attribute or child element name
struct Field {
    const char* key;
    const char* source;
};

// Point elements selected by `query` from the shape, joined under `key`. CobbAngle and Deviation
// also read the first Center of the same sub-part, right after its points.
struct PointList {
    const char* query;
    const char* key;
    const char* centerQuery = nullptr;
    const char* centerKey = nullptr;
};

struct ShapeKind {
    const char* element;
    // Text, PolyLine and Angle also name sub-parts of other shapes; those carry no Index.
    bool skipsEmptyIndex;
    // Attribute keys beyond "index", "description" and "label".
    std::vector<Field> attributes;
    std::vector<Field> children;
    std::vector<PointList> pointLists;
    bool recordsMask;
};

const Field kColor{"color", "Color"};
const Field kCenter{"center", "Center"};
const Field kStartPoint{"start_point", "StartPoint"};
const Field kEndPoint{"end_point", "EndPoint"};
const PointList kDirectPoints{"Point", "points"};
const PointList kContainedPoints{"Points//Point", "points"};
const std::vector<PointList> kSubPartPoints{
    {"PolyLine//Point", "polyline_points", "PolyLine//Center", "polyline_center"},
    {"Angle//Point", "angle_points", "Angle//Center", "angle_center"}};

const ShapeKind kRectangle{"Rectangle", false, {kColor}, {kCenter}, {kDirectPoints}, true};
const ShapeKind kLine{"Line", false, {kColor}, {kCenter, kStartPoint, kEndPoint}, {}, false};
const ShapeKind kPolygon{"Polygon", false, {kColor}, {kCenter}, {kDirectPoints}, true};
const ShapeKind kCircle{"Circle", false, {kColor}, {kCenter}, {kDirectPoints}, true};
const ShapeKind kFreehandContour{"FreehandContour",  false, {kColor}, {kCenter},
                                 {kContainedPoints}, true};
const ShapeKind kRuler{"Ruler", false, {kColor}, {kCenter, kStartPoint, kEndPoint}, {}, false};
const ShapeKind kEllipse{"Ellipse",
                         false,
                         {kColor},
                         {kCenter, {"height_point", "HeightPoint"}},
                         {{"AxisPoints//Point", "axis_points"}, kContainedPoints},
                         true};
const ShapeKind kText{"Text",
                      true,
                      {{"labelColor", "LabelColor"},
                       {"textColor", "TextColor"},
                       {"shadowColor", "ShadowColor"},
                       {"backgroundColor", "BackgroundColor"}},
                      {{"position", "Position"}, {"content", "Content"}},
                      {},
                      false};
const ShapeKind kArrowText{"ArrowText",
                           false,
                           {kColor,
                            {"textColor", "TextColor"},
                            {"shadowColor", "ShadowColor"},
                            {"backgroundColor", "BackgroundColor"}},
                           {kCenter, kStartPoint, kEndPoint, {"text", "Text"}},
                           {},
                           false};
const ShapeKind kPolyLine{"PolyLine", true, {kColor}, {kCenter}, {kDirectPoints}, false};
const ShapeKind kFreehandPolyLine{"FreehandPolyLine", false, {kColor}, {kCenter},
                                  {kContainedPoints}, false};
const ShapeKind kAngle{"Angle", true, {kColor}, {kCenter}, {kDirectPoints}, false};
const ShapeKind kPointObject{"PointObject", false, {kColor}, {}, {kDirectPoints}, false};
const ShapeKind kCobbAngle{"CobbAngle", false, {kColor}, {}, kSubPartPoints, false};
const ShapeKind kDeviation{"Deviation", false, {kColor}, {}, kSubPartPoints, false};

struct CompiledPointList {
    const PointList& list;
    pugi::xpath_query points;
    std::unique_ptr<pugi::xpath_query> center;
};

std::vector<CompiledPointList> Compile(const std::vector<PointList>& lists) {
    std::vector<CompiledPointList> compiled;
    compiled.reserve(lists.size());
    for (const PointList& list : lists) {
        compiled.push_back(
            {list, pugi::xpath_query(list.query),
             list.centerQuery ? std::make_unique<pugi::xpath_query>(list.centerQuery) : nullptr});
    }
    return compiled;
}

std::string JoinedPointTexts(const pugi::xpath_query& query, const pugi::xml_node& shape) {
    std::vector<std::string> pointList;
    for (const pugi::xpath_node& point : query.evaluate_node_set(shape)) {
        pointList.emplace_back(point.node().text().as_string(""));
    }
    return Join(pointList, ",");
}

FieldMap ReadShape(const ShapeKind& kind, const std::vector<CompiledPointList>& pointLists,
                   const pugi::xml_node& shape) {
    FieldMap fields;
    fields["index"] = shape.attribute("Index").value();
    for (const Field& attribute : kind.attributes) {
        fields[attribute.key] = shape.attribute(attribute.source).value();
    }
    fields["description"] = shape.attribute("Description").value();
    fields["label"] = shape.attribute("Label").value();
    for (const Field& child : kind.children) {
        fields[child.key] = ChildText(shape, child.source);
    }
    for (const CompiledPointList& compiled : pointLists) {
        fields[compiled.list.key] = JoinedPointTexts(compiled.points, shape);
        if (compiled.center) {
            const pugi::xpath_node center = compiled.center->evaluate_node(shape);
            fields[compiled.list.centerKey] = center.node().text().as_string("");
        }
    }
    if (kind.recordsMask) {
        const pugi::xml_node parent = shape.parent();
        if (std::strcmp(parent.name(), "Mask") == 0) {
            fields["mask_id"] = parent.attribute("Index").value();
        }
    }
    return fields;
}

FieldMapList ReadShapes(const pugi::xml_document& doc, const ShapeKind& kind) {
    const pugi::xpath_query elementQuery(("//" + std::string(kind.element)).c_str());
    const std::vector<CompiledPointList> pointLists = Compile(kind.pointLists);

    FieldMapList shapes;
    for (const pugi::xpath_node& match : elementQuery.evaluate_node_set(doc)) {
        const pugi::xml_node shape = match.node();
        if (kind.skipsEmptyIndex && *shape.attribute("Index").value() == '\0') {
            continue;
        }
        shapes.push_back(ReadShape(kind, pointLists, shape));
    }
    return shapes;
}

FieldMapList ReadShapes(const std::string& path, const ShapeKind& kind) {
    return ReadFile(path, [&kind](const pugi::xml_document& doc) { return ReadShapes(doc, kind); });
}

}  // namespace

// clang-format off
FieldMapList ParseRectangleAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kRectangle); }
FieldMapList ParseRectangleAnnotations(const std::string& path) { return ReadShapes(path, kRectangle); }
FieldMapList ParseLineAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kLine); }
FieldMapList ParseLineAnnotations(const std::string& path) { return ReadShapes(path, kLine); }
FieldMapList ParsePolygonAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kPolygon); }
FieldMapList ParsePolygonAnnotations(const std::string& path) { return ReadShapes(path, kPolygon); }
FieldMapList ParseCircleAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kCircle); }
FieldMapList ParseCircleAnnotations(const std::string& path) { return ReadShapes(path, kCircle); }
FieldMapList ParseFreehandContourAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kFreehandContour); }
FieldMapList ParseFreehandContourAnnotations(const std::string& path) { return ReadShapes(path, kFreehandContour); }
FieldMapList ParseRulerAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kRuler); }
FieldMapList ParseRulerAnnotations(const std::string& path) { return ReadShapes(path, kRuler); }
FieldMapList ParseEllipseAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kEllipse); }
FieldMapList ParseEllipseAnnotations(const std::string& path) { return ReadShapes(path, kEllipse); }
FieldMapList ParseTextAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kText); }
FieldMapList ParseTextAnnotations(const std::string& path) { return ReadShapes(path, kText); }
FieldMapList ParseArrowTextAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kArrowText); }
FieldMapList ParseArrowTextAnnotations(const std::string& path) { return ReadShapes(path, kArrowText); }
FieldMapList ParsePolyLineAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kPolyLine); }
FieldMapList ParsePolyLineAnnotations(const std::string& path) { return ReadShapes(path, kPolyLine); }
FieldMapList ParseFreehandPolyLineAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kFreehandPolyLine); }
FieldMapList ParseFreehandPolyLineAnnotations(const std::string& path) { return ReadShapes(path, kFreehandPolyLine); }
FieldMapList ParseAngleAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kAngle); }
FieldMapList ParseAngleAnnotations(const std::string& path) { return ReadShapes(path, kAngle); }
FieldMapList ParsePointObjectAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kPointObject); }
FieldMapList ParsePointObjectAnnotations(const std::string& path) { return ReadShapes(path, kPointObject); }
FieldMapList ParseCobbAngleAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kCobbAngle); }
FieldMapList ParseCobbAngleAnnotations(const std::string& path) { return ReadShapes(path, kCobbAngle); }
FieldMapList ParseDeviationAnnotations(const pugi::xml_document& doc) { return ReadShapes(doc, kDeviation); }
FieldMapList ParseDeviationAnnotations(const std::string& path) { return ReadShapes(path, kDeviation); }
// clang-format on
