// Temporary: the kind names until the frame model's own implementation is merged.
#include "annoxml/frame.h"

namespace annoxml {

const char* KindName(ShapeKind kind) {
    static const char* const kNames[] = {
        "Rectangle",   "Polygon",   "Circle",    "FreehandContour", "Ellipse",          "Line",
        "Ruler",       "Text",      "ArrowText", "PolyLine",        "FreehandPolyLine", "Angle",
        "PointObject", "CobbAngle", "Deviation"};
    return kNames[static_cast<int>(kind)];
}

bool HasArea(ShapeKind kind) { return static_cast<int>(kind) < 5; }

}  // namespace annoxml
