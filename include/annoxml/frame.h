// The frame model: one annotation file read in one pass into typed regions with outlines, the
// common ground of the data set, mask, YOLO and preview exports.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "annoxml/export.h"

namespace annoxml {

// The fifteen shape kinds; the first five have an area and become regions.
enum class ShapeKind {
    Rectangle,
    Polygon,
    Circle,
    FreehandContour,
    Ellipse,
    Line,
    Ruler,
    Text,
    ArrowText,
    PolyLine,
    FreehandPolyLine,
    Angle,
    PointObject,
    CobbAngle,
    Deviation,
};

// The element name: "Rectangle", "FreehandContour", ...
ANNOXML_API const char* KindName(ShapeKind kind);
ANNOXML_API bool HasArea(ShapeKind kind);
// How messages name a shape: "Circle with Index 3", "Circle without Index".
ANNOXML_API std::string ShapeName(ShapeKind kind, const std::string& index);

struct Point {
    double x = 0;
    double y = 0;
};

// [x, y, width, height] in image coordinates.
struct Box {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// One entry of the label list.
struct Label {
    std::string name;   // LabelType
    std::string color;  // LabelColor
};

struct Mask {
    std::string index;
    std::string description;
    std::string color;
};

// One shape of an area kind.
struct Region {
    ShapeKind kind = ShapeKind::Rectangle;
    std::string index;
    std::string label;
    std::string description;
    std::string color;
    std::optional<std::string> mask;  // the Index of the Mask that is the shape's parent
    std::vector<Point> outline;       // not closed: the last point is not the first again
    double area = 0;                  // absolute shoelace area of the outline
    Box box;                          // tight box of the outline
};

// One shape of the other ten kinds, kept for drawing.
//  - Line, Ruler, ArrowText: one part {start, end}
//  - Text: one part {position}
//  - PolyLine, FreehandPolyLine, Angle, PointObject: one part, its points
//  - CobbAngle, Deviation: two parts, the PolyLine's points and the Angle's points
struct Mark {
    ShapeKind kind = ShapeKind::Line;
    std::string index;
    std::string label;
    std::string description;
    std::string color;
    std::vector<std::vector<Point>> parts;
    std::string text;  // Text's Content, ArrowText's Text
};

struct Frame {
    std::string source;    // the path it was read from
    std::string fileName;  // ImageInformation FileName
    int width = 0;
    int height = 0;
    std::string user;      // User UserID
    std::string captured;  // User Time
    std::vector<Label> labels;
    std::vector<Mask> masks;
    std::vector<Region> regions;  // document order
    std::vector<Mark> marks;      // document order
};

// A file that cannot become a frame. The message names the file, and the shape where there is
// one: "frame.xml: Circle with Index 3: no Center".
class ANNOXML_API FrameError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
    FrameError(const std::string& source, const std::string& detail)
        : std::runtime_error(source + ": " + detail), source_(source), detail_(detail) {}

    const std::string& source() const { return source_; }
    // The message without the file: "Circle with Index 3: no Center".
    const std::string& detail() const { return detail_; }

  private:
    std::string source_;
    std::string detail_;
};

// Reads a loaded document; `source` names it in errors. Throws FrameError.
ANNOXML_API Frame ReadFrame(const pugi::xml_document& doc, const std::string& source);
// Loads and reads a file, without writing anything to standard output. Throws FrameError, or
// std::runtime_error("Failed to load xml file: ...") when it cannot be loaded.
ANNOXML_API Frame ReadFrame(const std::string& path);

// Reads as much as it can: with `problems` not null, each problem's message (without the file)
// is added there in the order found, and the shape at fault is left out (a region whose label
// is at fault stays). Throws only what loading throws. With null, as above.
ANNOXML_API Frame ReadFrame(const pugi::xml_document& doc, const std::string& source,
                            std::vector<std::string>* problems);
ANNOXML_API Frame ReadFrame(const std::string& path, std::vector<std::string>* problems);

}  // namespace annoxml
