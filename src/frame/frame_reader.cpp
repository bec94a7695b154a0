// Reads a document into a Frame in one walk over its elements.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "annoxml/frame.h"
#include "frame/geometry.h"
#include "frame/numbers.h"
#include "reader/load.h"
#include "util/names.h"
#include "util/points.h"

namespace annoxml {
namespace {

struct KindInfo {
    const char* name;
    ShapeKind kind;
    // Text, PolyLine and Angle also name the parts of other shapes; only those with an Index
    // are shapes of their own.
    bool needsIndex;
};

constexpr KindInfo kKinds[] = {
    {"Rectangle", ShapeKind::Rectangle, false},
    {"Polygon", ShapeKind::Polygon, false},
    {"Circle", ShapeKind::Circle, false},
    {"FreehandContour", ShapeKind::FreehandContour, false},
    {"Ellipse", ShapeKind::Ellipse, false},
    {"Line", ShapeKind::Line, false},
    {"Ruler", ShapeKind::Ruler, false},
    {"Text", ShapeKind::Text, true},
    {"ArrowText", ShapeKind::ArrowText, false},
    {"PolyLine", ShapeKind::PolyLine, true},
    {"FreehandPolyLine", ShapeKind::FreehandPolyLine, false},
    {"Angle", ShapeKind::Angle, true},
    {"PointObject", ShapeKind::PointObject, false},
    {"CobbAngle", ShapeKind::CobbAngle, false},
    {"Deviation", ShapeKind::Deviation, false},
};

constexpr std::size_t kMaxKindsPerInitial = 3;  // Polygon, PolyLine, PointObject

// The kinds whose names begin with each capital letter, so that an element's name is compared
// with three names at most instead of fifteen; -1 ends a list.
using KindsByInitial = std::array<std::array<int, kMaxKindsPerInitial + 1>, 26>;

constexpr KindsByInitial MakeKindsByInitial() {
    KindsByInitial table{};
    for (auto& kinds : table) {
        for (int& kind : kinds) kind = -1;
    }
    for (std::size_t i = 0; i < std::size(kKinds); ++i) {
        auto& kinds = table[static_cast<std::size_t>(kKinds[i].name[0] - 'A')];
        std::size_t end = 0;
        while (kinds[end] != -1) ++end;
        kinds[end] = static_cast<int>(i);
    }
    return table;
}

constexpr KindsByInitial kKindsByInitial = MakeKindsByInitial();

const KindInfo* FindKind(const char* name) {
    const auto initial = static_cast<unsigned char>(name[0] - 'A');
    if (initial >= kKindsByInitial.size()) {
        return nullptr;
    }
    for (const int kind : kKindsByInitial[initial]) {
        if (kind < 0) break;
        if (detail::SameName(name, kKinds[kind].name)) return &kKinds[kind];
    }
    return nullptr;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Calls visit(child) for each child element called `name`, comparing names inline: the parser's
// own named iteration calls strcmp for every sibling.
template <typename Visit>
void ForEachChildNamed(pugi::xml_node parent, const char* name, Visit visit) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (detail::SameName(child.name(), name)) visit(child);
    }
}

// Reads the numbers of one shape; every problem becomes a FrameError naming the shape.
class ShapeReader {
  public:
    ShapeReader(const std::string& source, ShapeKind kind, pugi::xml_node node)
        : source_(source), kind_(kind), node_(node), index_(node.attribute("Index").value()) {}

    [[noreturn]] void Fail(const std::string& problem) const {
        throw FrameError(source_, ShapeName(kind_, index_) + ": " + problem);
    }

    // The points of the `Point` elements directly inside the shape.
    std::vector<Point> DirectPoints() const {
        std::vector<Point> points;
        points.reserve(kUsualPoints);
        PointPairs pairs(*this, points);
        ForEachChildNamed(node_, "Point",
                          [&](pugi::xml_node point) { pairs.Add(point.text().as_string("")); });
        pairs.Finish();
        return points;
    }

    // The points of every `Point` at any depth inside each direct child named `container`.
    std::vector<Point> PointsIn(const char* container) const {
        std::vector<Point> points;
        points.reserve(kUsualPoints);
        ForEachChildNamed(node_, container,
                          [&](pugi::xml_node child) { AppendDescendantPoints(child, points); });
        return points;
    }

    // The one point in the text of the first child named `name`; nullopt when it has no text.
    std::optional<Point> SinglePoint(const char* name) const {
        const std::string_view text = detail::Trimmed(node_.child(name).text().as_string(""));
        if (text.empty()) {
            return std::nullopt;
        }
        double values[2] = {};
        std::size_t count = 0;
        ForEachNumber(text, [&](double value) {
            if (count < 2) values[count] = value;
            ++count;
        });
        if (count != 2) {
            Fail(std::string(name) + " " + Quoted(text) + " is not one point");
        }
        return Point{values[0], values[1]};
    }

    Point RequiredPoint(const char* name) const {
        const std::optional<Point> point = SinglePoint(name);
        if (!point) {
            Fail(std::string("no ") + name);
        }
        return *point;
    }

    const std::string& index() const { return index_; }

  private:
    // Room for the points of most shapes, so that reading them does not grow the vector.
    static constexpr std::size_t kUsualPoints = 8;

    // Pairs the numbers of coordinate texts into points appended to `points`; an odd count in
    // all the texts together fails the shape.
    class PointPairs {
      public:
        PointPairs(const ShapeReader& shape, std::vector<Point>& points)
            : shape_(shape), points_(points) {}

        void Add(std::string_view text) {
            shape_.ForEachNumber(text, [this](double value) {
                if (count_++ % 2 == 0) {
                    x_ = value;
                } else {
                    points_.push_back({x_, value});
                }
            });
        }

        void Finish() const {
            if (count_ % 2 != 0) {
                shape_.Fail("an odd count of coordinates (" + std::to_string(count_) + ")");
            }
        }

      private:
        const ShapeReader& shape_;
        std::vector<Point>& points_;
        std::size_t count_ = 0;
        double x_ = 0;
    };

    void AppendDescendantPoints(pugi::xml_node container, std::vector<Point>& points) const {
        PointPairs pairs(*this, points);
        // Pre-order walk without recursion, so that deep nesting cannot exhaust the stack.
        pugi::xml_node node = container.first_child();
        while (node && node != container) {
            if (node.type() == pugi::node_element && detail::SameName(node.name(), "Point")) {
                pairs.Add(node.text().as_string(""));
            }
            if (node.first_child()) {
                node = node.first_child();
                continue;
            }
            while (node != container && !node.next_sibling()) {
                node = node.parent();
            }
            if (node != container) {
                node = node.next_sibling();
            }
        }
        pairs.Finish();
    }

    // Calls `take` with each number of a comma-separated text; a token that is not a finite
    // number fails the shape.
    template <typename Take>
    void ForEachNumber(std::string_view text, Take take) const {
        const char* p = text.data();
        const char* const end = p + text.size();
        while (true) {
            const char* const start = p;
            double value = 0;
            // Nearly every token is a plain decimal, read in place up to its ','; the rest (white
            // space, exponents, errors) are cut out and read whole.
            if (!detail::ReadPlainDecimal(p, end, value)) {
                p = std::find(start, end, ',');
                value = Number(std::string_view(start, static_cast<std::size_t>(p - start)));
            }
            take(value);
            if (p == end) {
                return;
            }
            ++p;  // the ','
        }
    }

    double Number(std::string_view token) const {
        const std::optional<double> value = detail::ParseNumber(token);
        if (!value) {
            Fail(Quoted(detail::Trimmed(token)) + " is not a number");
        }
        if (!std::isfinite(*value)) {
            Fail(Quoted(detail::Trimmed(token)) + " is not a finite number");
        }
        return *value;
    }

    const std::string& source_;
    ShapeKind kind_;
    pugi::xml_node node_;
    std::string index_;
};

void RequireOutlinePoints(const ShapeReader& shape, const std::vector<Point>& points,
                          std::size_t needed) {
    if (points.size() < needed) {
        shape.Fail(std::to_string(points.size()) + (points.size() == 1 ? " point" : " points") +
                   ", needs at least " + std::to_string(needed));
    }
}

std::vector<Point> EllipseOutline(const ShapeReader& shape) {
    std::vector<Point> points = shape.PointsIn("Points");
    if (points.size() >= 3) {
        return points;
    }
    const std::vector<Point> axis = shape.PointsIn("AxisPoints");
    const std::optional<Point> height = shape.SinglePoint("HeightPoint");
    if (axis.size() < 2 || !height) {
        shape.Fail("neither 3 or more Points nor AxisPoints and a HeightPoint");
    }
    return detail::EllipseOutline(axis[0], axis[1],
                                  detail::DistanceFromLine(*height, axis[0], axis[1]));
}

std::vector<Point> OutlineOf(const ShapeReader& shape, ShapeKind kind) {
    switch (kind) {
        case ShapeKind::Rectangle: {
            const std::vector<Point> points = shape.DirectPoints();
            RequireOutlinePoints(shape, points, 3);
            return detail::RectangleOutline(points[0], points[2]);
        }
        case ShapeKind::Polygon: {
            std::vector<Point> points = shape.DirectPoints();
            RequireOutlinePoints(shape, points, 3);
            return points;
        }
        case ShapeKind::FreehandContour: {
            std::vector<Point> points = shape.PointsIn("Points");
            RequireOutlinePoints(shape, points, 3);
            return points;
        }
        case ShapeKind::Circle: {
            const Point center = shape.RequiredPoint("Center");
            const std::vector<Point> points = shape.DirectPoints();
            RequireOutlinePoints(shape, points, 1);
            return detail::CircleOutline(center, detail::Distance(center, points[0]));
        }
        case ShapeKind::Ellipse:
            return EllipseOutline(shape);
        default:
            return {};
    }
}

std::vector<std::vector<Point>> PartsOf(const ShapeReader& shape, ShapeKind kind) {
    const auto present = [&shape](std::initializer_list<const char*> names) {
        std::vector<Point> points;
        for (const char* name : names) {
            if (const std::optional<Point> point = shape.SinglePoint(name)) {
                points.push_back(*point);
            }
        }
        return points;
    };
    switch (kind) {
        case ShapeKind::Line:
        case ShapeKind::Ruler:
        case ShapeKind::ArrowText:
            return {present({"StartPoint", "EndPoint"})};
        case ShapeKind::Text:
            return {present({"Position"})};
        case ShapeKind::FreehandPolyLine:
            return {shape.PointsIn("Points")};
        case ShapeKind::CobbAngle:
        case ShapeKind::Deviation:
            return {shape.PointsIn("PolyLine"), shape.PointsIn("Angle")};
        default:
            return {shape.DirectPoints()};
    }
}

std::string ChildText(pugi::xml_node node, const char* name) {
    return node.child(name).text().as_string("");
}

class FrameBuilder : public pugi::xml_tree_walker {
  public:
    // With `problems`, every problem is recorded there and reading goes on without the shape
    // at fault; without, the first one throws.
    FrameBuilder(const std::string& source, std::vector<std::string>* problems)
        : problems_(problems) {
        frame_.source = source;
        frame_.regions.reserve(kUsualRegions);
        regionNodes_.reserve(kUsualRegions);
    }

    bool for_each(pugi::xml_node& node) override {
        if (node.type() != pugi::node_element) {
            return true;
        }
        const char* name = node.name();
        if (detail::SameName(name, "Point")) {
            return true;  // most elements are points, which their shapes read
        }
        if (const KindInfo* kind = FindKind(name)) {
            Attempt([&] { AddShape(*kind, node); });
        } else if (detail::SameName(name, "ImageInformation")) {
            if (!image_) image_ = node;
        } else if (detail::SameName(name, "User")) {
            if (!user_) user_ = node;
        } else if (detail::SameName(name, "LabelList")) {
            for (pugi::xml_node label : node.children("Label")) {
                frame_.labels.push_back(
                    {label.attribute("LabelType").value(), label.attribute("LabelColor").value()});
            }
        } else if (detail::SameName(name, "Mask")) {
            frame_.masks.push_back({node.attribute("Index").value(),
                                    node.attribute("Description").value(),
                                    node.attribute("Color").value()});
        }
        return true;
    }

    Frame Finish() {
        Attempt([&] { ReadImage(); });
        Attempt([&] {
            if (!user_) {
                Fail("no User element");
            }
        });
        frame_.user = user_.attribute("UserID").value();
        frame_.captured = user_.attribute("Time").value();
        CheckRegionLabels();
        Attempt([&] { CheckText(); });
        return std::move(frame_);
    }

  private:
    // Room for the regions of most frames, so that adding them does not move the list; a list
    // of this size is still one the allocator keeps per thread.
    static constexpr std::size_t kUsualRegions = 4;

    template <typename Step>
    void Attempt(Step step) {
        if (!problems_) {
            step();
            return;
        }
        try {
            step();
        } catch (const FrameError& error) {
            problems_->push_back(error.detail());
        }
    }

    [[noreturn]] void Fail(const std::string& problem) const {
        throw FrameError(frame_.source, problem);
    }

    void ReadImage() {
        if (!image_) {
            Fail("no ImageInformation element");
        }
        frame_.fileName = ChildText(image_, "FileName");
        Attempt([&] { frame_.width = ImageSize("Width"); });
        Attempt([&] { frame_.height = ImageSize("Height"); });
    }

    int ImageSize(const char* name) const {
        const std::string text = ChildText(image_, name);
        if (text.empty()) {
            Fail(std::string("ImageInformation: no ") + name);
        }
        const std::optional<int> value = detail::ParsePositiveInt(text);
        if (!value) {
            Fail(std::string("ImageInformation: ") + name + " " + Quoted(text) +
                 " is not a positive integer");
        }
        return *value;
    }

    void AddShape(const KindInfo& kind, pugi::xml_node node) {
        if (kind.needsIndex && node.attribute("Index").value()[0] == '\0') {
            return;
        }
        const ShapeReader shape(frame_.source, kind.kind, node);
        if (HasArea(kind.kind)) {
            AddRegion(shape, kind.kind, node);
        } else {
            AddMark(shape, kind.kind, node);
        }
    }

    void AddRegion(const ShapeReader& shape, ShapeKind kind, pugi::xml_node node) {
        Region region;
        region.kind = kind;
        region.index = shape.index();
        // One pass over the attributes; the first of a name counts, as attribute() finds it.
        bool label = false, description = false, color = false;
        for (pugi::xml_attribute attribute = node.first_attribute(); attribute;
             attribute = attribute.next_attribute()) {
            const char* name = attribute.name();
            if (!label && detail::SameName(name, "Label")) {
                region.label = attribute.value();
                label = true;
            } else if (!description && detail::SameName(name, "Description")) {
                region.description = attribute.value();
                description = true;
            } else if (!color && detail::SameName(name, "Color")) {
                region.color = attribute.value();
                color = true;
            }
        }
        const pugi::xml_node parent = node.parent();
        if (detail::SameName(parent.name(), "Mask")) {
            region.mask = parent.attribute("Index").value();
        }
        region.outline = OutlineOf(shape, kind);
        region.area = detail::ShoelaceArea(region.outline);
        region.box = detail::BoxOf(region.outline);
        frame_.regions.push_back(std::move(region));
        regionNodes_.push_back(node);
    }

    void AddMark(const ShapeReader& shape, ShapeKind kind, pugi::xml_node node) {
        Mark mark;
        mark.kind = kind;
        mark.index = shape.index();
        mark.label = node.attribute("Label").value();
        mark.description = node.attribute("Description").value();
        mark.color = node.attribute(kind == ShapeKind::Text ? "TextColor" : "Color").value();
        mark.parts = PartsOf(shape, kind);
        if (kind == ShapeKind::Text) {
            mark.text = ChildText(node, "Content");
        } else if (kind == ShapeKind::ArrowText) {
            mark.text = ChildText(node, "Text");
        }
        frame_.marks.push_back(std::move(mark));
    }

    // Labels are checked once the whole label list is known: it may follow the shapes.
    void CheckRegionLabels() {
        for (std::size_t i = 0; i < frame_.regions.size(); ++i) {
            const Region& region = frame_.regions[i];
            const ShapeReader shape(frame_.source, region.kind, regionNodes_[i]);
            Attempt([&] {
                if (region.label.empty()) {
                    shape.Fail("no label");
                }
                if (!HasLabel(region.label)) {
                    shape.Fail("label " + Quoted(region.label) + " is not in the label list");
                }
            });
        }
    }

    // Every output is UTF-8 text; a file whose bytes are not fails here, naming where.
    void CheckText() const {
        const auto check = [this](std::initializer_list<const std::string*> texts,
                                  const char* where) {
            for (const std::string* text : texts) {
                if (!detail::IsValidUtf8(*text)) {
                    Fail(std::string(where) + ": text that is not valid UTF-8");
                }
            }
        };
        check({&frame_.fileName, &frame_.user, &frame_.captured}, "ImageInformation or User");
        for (const Label& label : frame_.labels) check({&label.name, &label.color}, "LabelList");
        for (const Mask& mask : frame_.masks) {
            check({&mask.index, &mask.description, &mask.color}, "Mask");
        }
        for (const Region& region : frame_.regions) {
            check({&region.index, &region.label, &region.description, &region.color,
                   region.mask ? &*region.mask : &region.index},
                  KindName(region.kind));
        }
        for (const Mark& mark : frame_.marks) {
            check({&mark.index, &mark.label, &mark.description, &mark.color, &mark.text},
                  KindName(mark.kind));
        }
    }

    bool HasLabel(const std::string& name) const {
        for (const Label& label : frame_.labels) {
            if (label.name == name) return true;
        }
        return false;
    }

    Frame frame_;
    pugi::xml_node image_;
    pugi::xml_node user_;
    std::vector<pugi::xml_node> regionNodes_;
    std::vector<std::string>* problems_;
};

}  // namespace

const char* KindName(ShapeKind kind) { return kKinds[static_cast<int>(kind)].name; }

bool HasArea(ShapeKind kind) {
    return static_cast<int>(kind) <= static_cast<int>(ShapeKind::Ellipse);
}

std::string ShapeName(ShapeKind kind, const std::string& index) {
    return std::string(KindName(kind)) +
           (index.empty() ? " without Index" : " with Index " + index);
}

Frame ReadFrame(const pugi::xml_document& doc, const std::string& source) {
    return ReadFrame(doc, source, nullptr);
}

Frame ReadFrame(const pugi::xml_document& doc, const std::string& source,
                std::vector<std::string>* problems) {
    FrameBuilder builder(source, problems);
    pugi::xml_node root = doc;  // a handle: traverse() reads through it, changing nothing
    root.traverse(builder);
    return builder.Finish();
}

Frame ReadFrame(const std::string& path) { return ReadFrame(detail::LoadDocument(path), path); }

Frame ReadFrame(const std::string& path, std::vector<std::string>* problems) {
    return ReadFrame(detail::LoadDocument(path), path, problems);
}

}  // namespace annoxml
