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
#include "platform/platform.h"
#include "reader/declared_encoding.h"
#include "reader/element_tree.h"
#include "reader/load.h"
#include "util/points.h"

namespace annoxml {
namespace {

struct KindInfo {
    std::string_view name;
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

using detail::ElementTree;
using Element = ElementTree::Index;

const KindInfo* FindKind(std::string_view name) {
    if (name.empty()) {
        return nullptr;
    }
    const auto initial = static_cast<unsigned char>(name[0] - 'A');
    if (initial >= kKindsByInitial.size()) {
        return nullptr;
    }
    for (const int kind : kKindsByInitial[initial]) {
        if (kind < 0) break;
        if (name == kKinds[kind].name) return &kKinds[kind];
    }
    return nullptr;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Calls visit(child) for each child element called `name`.
template <typename Visit>
void ForEachChildNamed(const ElementTree& tree, Element parent, std::string_view name,
                       Visit visit) {
    tree.ForEachChild(parent, [&](Element child) {
        if (tree[child].name == name) visit(child);
    });
}

// The text of the first child called `name`; "" when there is none.
std::string_view ChildText(const ElementTree& tree, Element element, std::string_view name) {
    const Element child = tree.ChildNamed(element, name);
    return child == ElementTree::kNone ? std::string_view() : tree[child].text;
}

// Reads the numbers of one shape; every problem becomes a FrameError naming the shape.
class ShapeReader {
  public:
    ShapeReader(const std::string& source, ShapeKind kind, const ElementTree& tree, Element element)
        : source_(source),
          kind_(kind),
          tree_(tree),
          element_(element),
          index_(tree.AttributeOf(element, "Index")) {}

    [[noreturn]] void Fail(const std::string& problem) const {
        throw FrameError(source_, ShapeName(kind_, index_) + ": " + problem);
    }

    // The points of the `Point` elements directly inside the shape.
    std::vector<Point> DirectPoints() const {
        std::vector<Point> points;
        points.reserve(kUsualPoints);
        ReadDirectPoints(points);
        return points;
    }

    // The same into `points`, emptied first, for points that are not kept.
    void ReadDirectPoints(std::vector<Point>& points) const {
        points.clear();
        PointPairs pairs(*this, points);
        tree_.ForEachChild(element_, [&](Element child) {
            if (detail::IsName(tree_[child].name, "Point")) pairs.Add(tree_[child].text);
        });
        pairs.Finish();
    }

    // The points of every `Point` at any depth inside each direct child named `container`.
    std::vector<Point> PointsIn(const char* container) const {
        std::vector<Point> points;
        points.reserve(kUsualPoints);
        ForEachChildNamed(tree_, element_, container,
                          [&](Element child) { AppendDescendantPoints(child, points); });
        return points;
    }

    // The one point in the text of the first child named `name`; nullopt when it has no text.
    std::optional<Point> SinglePoint(const char* name) const {
        const std::string_view text = detail::Trimmed(ChildText(tree_, element_, name));
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

    void AppendDescendantPoints(Element container, std::vector<Point>& points) const {
        PointPairs pairs(*this, points);
        for (Element element = container + 1; element < tree_[container].end; ++element) {
            if (detail::IsName(tree_[element].name, "Point")) pairs.Add(tree_[element].text);
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
    const ElementTree& tree_;
    Element element_;
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

// The thread's room for the points that a shape's outline is computed from, kept for the next
// shape unless a shape of very many points grew it.
class ScratchPoints {
  public:
    ScratchPoints()
        : points_(platform::PerThread<std::vector<Point>>([] { return std::vector<Point>(); })) {}
    ~ScratchPoints() {
        if (points_.capacity() > kKeptPoints) std::vector<Point>().swap(points_);
    }
    ScratchPoints(const ScratchPoints&) = delete;
    ScratchPoints& operator=(const ScratchPoints&) = delete;

    std::vector<Point>& get() { return points_; }

  private:
    static constexpr std::size_t kKeptPoints = 1024;

    std::vector<Point>& points_;
};

std::vector<Point> OutlineOf(const ShapeReader& shape, ShapeKind kind) {
    switch (kind) {
        case ShapeKind::Rectangle: {
            ScratchPoints scratch;
            std::vector<Point>& points = scratch.get();
            shape.ReadDirectPoints(points);
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
            ScratchPoints scratch;
            std::vector<Point>& points = scratch.get();
            shape.ReadDirectPoints(points);
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
        points.reserve(names.size());
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

class FrameBuilder {
  public:
    // With `problems`, every problem is recorded there and reading goes on without the shape
    // at fault; without, the first one throws.
    // `textIsUtf8`: the whole document is known to be valid UTF-8, and so is every text taken
    // from it; the texts are checked one by one otherwise.
    FrameBuilder(const ElementTree& tree, const std::string& source,
                 std::vector<std::string>* problems, bool textIsUtf8 = false)
        : tree_(tree), problems_(problems), textIsUtf8_(textIsUtf8) {
        frame_.source = source;
        frame_.regions.reserve(kUsualRegions);
        regionElements_.reserve(kUsualRegions);
    }

    Frame Read() {
        for (Element element = 0; element < tree_.size(); ++element) {
            Visit(element);
        }
        return Finish();
    }

  private:
    // Room for the regions of most frames, so that adding them does not move the list; a list
    // of this size is still one the allocator keeps per thread.
    static constexpr std::size_t kUsualRegions = 4;

    // Room for a few at the first, rather than for one and then for two.
    template <typename List>
    static void ReserveFirst(List& list) {
        if (list.capacity() == 0) list.reserve(kUsualRegions);
    }

    void Visit(Element element) {
        const std::string_view name = tree_[element].name;
        if (detail::IsName(name, "Point")) {
            return;  // most elements are points, which their shapes read
        }
        if (const KindInfo* kind = FindKind(name)) {
            Attempt([&] { AddShape(*kind, element); });
        } else if (detail::IsName(name, "ImageInformation")) {
            if (image_ == ElementTree::kNone) image_ = element;
        } else if (detail::IsName(name, "User")) {
            if (user_ == ElementTree::kNone) user_ = element;
        } else if (detail::IsName(name, "LabelList")) {
            tree_.ForEachChild(element, [&](Element label) {
                if (!detail::IsName(tree_[label].name, "Label")) return;
                ReserveFirst(frame_.labels);
                frame_.labels.push_back({std::string(Attribute(label, "LabelType")),
                                         std::string(Attribute(label, "LabelColor"))});
            });
        } else if (detail::IsName(name, "Mask")) {
            frame_.masks.push_back({std::string(Attribute(element, "Index")),
                                    std::string(Attribute(element, "Description")),
                                    std::string(Attribute(element, "Color"))});
        }
    }

    Frame Finish() {
        Attempt([&] { ReadImage(); });
        Attempt([&] {
            if (user_ == ElementTree::kNone) {
                Fail("no User element");
            }
        });
        if (user_ != ElementTree::kNone) {
            frame_.user = Attribute(user_, "UserID");
            frame_.captured = Attribute(user_, "Time");
        }
        CheckRegionLabels();
        if (!textIsUtf8_) Attempt([&] { CheckText(); });
        return std::move(frame_);
    }

    template <typename Name>
    std::string_view Attribute(Element element, const Name& name) const {
        return tree_.AttributeOf(element, name);
    }

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
        if (image_ == ElementTree::kNone) {
            Fail("no ImageInformation element");
        }
        frame_.fileName = ChildText(tree_, image_, "FileName");
        Attempt([&] { frame_.width = ImageSize("Width"); });
        Attempt([&] { frame_.height = ImageSize("Height"); });
    }

    int ImageSize(const char* name) const {
        const std::string text(ChildText(tree_, image_, name));
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

    void AddShape(const KindInfo& kind, Element element) {
        if (kind.needsIndex && Attribute(element, "Index").empty()) {
            return;
        }
        const ShapeReader shape(frame_.source, kind.kind, tree_, element);
        if (HasArea(kind.kind)) {
            AddRegion(shape, kind.kind, element);
        } else {
            AddMark(shape, kind.kind, element);
        }
    }

    void AddRegion(const ShapeReader& shape, ShapeKind kind, Element element) {
        Region region;
        region.kind = kind;
        region.index = shape.index();
        // One pass over the attributes; the first of a name counts.
        bool label = false, description = false, color = false;
        for (const ElementTree::Attribute* attribute = tree_.AttributesBegin(element);
             attribute != tree_.AttributesEnd(element); ++attribute) {
            if (!label && detail::IsName(attribute->name, "Label")) {
                region.label = attribute->value;
                label = true;
            } else if (!description && detail::IsName(attribute->name, "Description")) {
                region.description = attribute->value;
                description = true;
            } else if (!color && detail::IsName(attribute->name, "Color")) {
                region.color = attribute->value;
                color = true;
            }
        }
        const Element parent = tree_[element].parent;
        if (parent != ElementTree::kNone && detail::IsName(tree_[parent].name, "Mask")) {
            region.mask = Attribute(parent, "Index");
        }
        region.outline = OutlineOf(shape, kind);
        region.area = detail::ShoelaceArea(region.outline);
        region.box = detail::BoxOf(region.outline);
        frame_.regions.push_back(std::move(region));
        regionElements_.push_back(element);
    }

    void AddMark(const ShapeReader& shape, ShapeKind kind, Element element) {
        Mark mark;
        mark.kind = kind;
        mark.index = shape.index();
        mark.label = Attribute(element, "Label");
        mark.description = Attribute(element, "Description");
        mark.color = Attribute(element, kind == ShapeKind::Text ? "TextColor" : "Color");
        mark.parts = PartsOf(shape, kind);
        if (kind == ShapeKind::Text) {
            mark.text = ChildText(tree_, element, "Content");
        } else if (kind == ShapeKind::ArrowText) {
            mark.text = ChildText(tree_, element, "Text");
        }
        ReserveFirst(frame_.marks);
        frame_.marks.push_back(std::move(mark));
    }

    // Labels are checked once the whole label list is known: it may follow the shapes.
    void CheckRegionLabels() {
        for (std::size_t i = 0; i < frame_.regions.size(); ++i) {
            const Region& region = frame_.regions[i];
            const ShapeReader shape(frame_.source, region.kind, tree_, regionElements_[i]);
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

    const ElementTree& tree_;
    Frame frame_;
    Element image_ = ElementTree::kNone;
    Element user_ = ElementTree::kNone;
    std::vector<Element> regionElements_;
    std::vector<std::string>* problems_;
    bool textIsUtf8_;
};

// The tree of the thread's current document: its room is kept from one document to the next.
ElementTree& ThreadTree() {
    return platform::PerThread<ElementTree>([] { return ElementTree(); });
}

// The thread's current document, whose room is kept for the next one unless it is larger than
// most: a study's frames then take no allocation each, and their bytes land in memory that is
// already in the cache.
class ThreadDocument {
  public:
    ThreadDocument()
        : bytes_(
              platform::PerThread<detail::DocumentBytes>([] { return detail::DocumentBytes(); })) {}
    ~ThreadDocument() { bytes_.Clear(kKeptBytes); }
    ThreadDocument(const ThreadDocument&) = delete;
    ThreadDocument& operator=(const ThreadDocument&) = delete;

    detail::DocumentBytes& bytes() { return bytes_; }

  private:
    static constexpr std::size_t kKeptBytes = std::size_t{1} << 20;

    detail::DocumentBytes& bytes_;
};

}  // namespace

const char* KindName(ShapeKind kind) { return kKinds[static_cast<int>(kind)].name.data(); }

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
    ElementTree& tree = ThreadTree();
    tree.Read(doc);
    return FrameBuilder(tree, source, problems).Read();
}

Frame ReadFrame(const std::string& path) { return ReadFrame(path, nullptr); }

Frame ReadFrame(const std::string& path, std::vector<std::string>* problems) {
    ThreadDocument document;
    detail::DocumentBytes& bytes = document.bytes();
    detail::ReadDocumentBytes(path, bytes);
    bytes.Reserve(1);
    *bytes.end() = '\0';  // after the text, as the scanner needs it
    ElementTree& tree = ThreadTree();
    if (detail::ParserReadsAsItIs(bytes.view()) && tree.Scan(bytes.view())) {
        // The texts of a frame are pieces of the document cut at ASCII characters, with only
        // ASCII changed in them: valid UTF-8 when it is.
        return FrameBuilder(tree, path, problems, detail::IsValidUtf8(bytes.view())).Read();
    }
    return ReadFrame(detail::ParseDocumentBytes(bytes), path, problems);
}

}  // namespace annoxml
