// The fifteen shape readers: one algorithm, driven by a table of per-kind parameters.
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "annoxml/reader.h"
#include "annoxml/util.h"
#include "reader/document.h"

using annoxml::detail::ChildText;
using annoxml::detail::ForEachElementBelow;
using annoxml::detail::ReadFile;
using annoxml::detail::SameName;

namespace {

// key <- attribute or child element name
struct Field {
    const char* key;
    const char* source;
};

// The Point elements of a shape: its own Point children, or, with a container, every Point below
// its `container` children (what the query "CONTAINER//Point" selects). Joined under `key`.
// CobbAngle and Deviation also read the first Center below the same sub-part, right after its
// points.
struct PointList {
    const char* container;
    const char* key;
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
const PointList kDirectPoints{nullptr, "points"};
const PointList kContainedPoints{"Points", "points"};
const std::vector<PointList> kSubPartPoints{{"PolyLine", "polyline_points", "polyline_center"},
                                            {"Angle", "angle_points", "angle_center"}};

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
                         {{"AxisPoints", "axis_points"}, kContainedPoints},
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

// Calls visit(element) for each element named `name` that "NAME" (no container) or
// "CONTAINER//NAME" selects from `shape`, in document order.
template <typename Visit>
void ForEachSelected(const pugi::xml_node& shape, const char* container, const char* name,
                     Visit visit) {
    for (const pugi::xml_node child : shape.children()) {
        if (child.type() != pugi::node_element) continue;
        const char* const childName = child.name();
        if (!container) {
            if (SameName(childName, name)) visit(child);
        } else if (SameName(childName, container)) {
            ForEachElementBelow(child, [&](const pugi::xml_node& element) {
                if (SameName(element.name(), name)) visit(element);
            });
        }
    }
}

// The texts of the selected Point elements joined by ",", as Join joins them.
std::string JoinedPointTexts(const pugi::xml_node& shape, const char* container) {
    std::string joined;
    ForEachSelected(shape, container, "Point", [&](const pugi::xml_node& point) {
        if (!joined.empty()) joined += ',';
        joined += point.text().as_string("");
    });
    return joined;
}

std::string FirstCenterText(const pugi::xml_node& shape, const char* container) {
    pugi::xml_node first;
    ForEachSelected(shape, container, "Center", [&](const pugi::xml_node& center) {
        if (!first) first = center;
    });
    return first.text().as_string("");
}

FieldMap ReadShape(const ShapeKind& kind, const pugi::xml_node& shape) {
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
    for (const PointList& list : kind.pointLists) {
        fields[list.key] = JoinedPointTexts(shape, list.container);
        if (list.centerKey) {
            fields[list.centerKey] = FirstCenterText(shape, list.container);
        }
    }
    if (kind.recordsMask) {
        const pugi::xml_node parent = shape.parent();
        if (SameName(parent.name(), "Mask")) {
            fields["mask_id"] = parent.attribute("Index").value();
        }
    }
    return fields;
}

void AddShape(const ShapeKind& kind, const pugi::xml_node& shape, FieldMapList& shapes) {
    if (kind.skipsEmptyIndex && *shape.attribute("Index").value() == '\0') {
        return;
    }
    shapes.push_back(ReadShape(kind, shape));
}

// The shapes of one kind, in document order: the elements that "//Kind" selects.
FieldMapList ReadShapes(const pugi::xml_document& doc, const ShapeKind& kind) {
    FieldMapList shapes;
    ForEachElementBelow(doc, [&](const pugi::xml_node& element) {
        if (SameName(element.name(), kind.element)) AddShape(kind, element, shapes);
    });
    return shapes;
}

FieldMapList ReadShapes(const std::string& path, const ShapeKind& kind) {
    return ReadFile(path, [&kind](const pugi::xml_document& doc) { return ReadShapes(doc, kind); });
}

const ShapeKind* const kAllKinds[] = {
    &kRectangle,       &kCircle,    &kEllipse,          &kPolygon,
    &kFreehandContour, &kPolyLine,  &kFreehandPolyLine, &kPointObject,
    &kRuler,           &kText,      &kArrowText,        &kLine,
    &kAngle,           &kCobbAngle, &kDeviation};

}  // namespace

AnnotationTable annoxml::detail::ReadAllShapes(const pugi::xml_document& doc) {
    FieldMapList lists[std::size(kAllKinds)];
    ForEachElementBelow(doc, [&](const pugi::xml_node& element) {
        const char* const name = element.name();
        for (std::size_t k = 0; k < std::size(kAllKinds); ++k) {
            if (SameName(name, kAllKinds[k]->element)) {
                AddShape(*kAllKinds[k], element, lists[k]);
                return;
            }
        }
    });
    AnnotationTable table;
    for (std::size_t k = 0; k < std::size(kAllKinds); ++k) {
        table[kAllKinds[k]->element] = std::move(lists[k]);
    }
    return table;
}

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
