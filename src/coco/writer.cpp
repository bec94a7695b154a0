// GenerateCOCOJson: one walk over the document finds every section; the JSON text is written
// while it is produced, into a temporary file that replaces the output only when complete.
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "annoxml/coco.h"
#include "annoxml/reader.h"
#include "annoxml/util.h"
#include "coco/converters.h"
#include "coco/json_stream.h"
#include "coco/label_table.h"
#include "reader/declared_encoding.h"
#include "reader/document.h"
#include "reader/load.h"
#include "reader/xml_scan.h"
#include "util/names.h"

namespace {

using annoxml::detail::AnnotatedKind;
using annoxml::detail::AttributeValue;
using annoxml::detail::JsonStream;
using annoxml::detail::kAnnotatedKinds;
using annoxml::detail::LabelTable;
using annoxml::detail::ScannedElement;

const char* const kDescription =
    "Endoscopy annotation XML converted to COCO format by Quillmore's annotation converter";

// The elements that the conversion reads, each list in document order.
struct Sections {
    pugi::xml_node image;  // the first ImageInformation
    pugi::xml_node user;   // the first User
    std::vector<pugi::xml_node> labelLists;
    std::vector<pugi::xml_node> masks;
    std::vector<pugi::xml_node> shapes[std::size(kAnnotatedKinds)];
};

bool Named(const pugi::xml_node& node, const char* name) {
    return annoxml::detail::SameName(node.name(), name);
}

void Classify(const pugi::xml_node& element, Sections& sections) {
    for (std::size_t k = 0; k < std::size(kAnnotatedKinds); ++k) {
        if (Named(element, kAnnotatedKinds[k].name)) {
            sections.shapes[k].push_back(element);
            return;
        }
    }
    if (Named(element, "Mask")) {
        sections.masks.push_back(element);
    } else if (Named(element, "LabelList")) {
        sections.labelLists.push_back(element);
    } else if (!sections.user && Named(element, "User")) {
        sections.user = element;
    } else if (!sections.image && Named(element, "ImageInformation")) {
        sections.image = element;
    }
}

// Every element at any depth, in document order, as "//Name" queries find them.
Sections FindSections(const pugi::xml_document& doc) {
    Sections sections;
    annoxml::detail::ForEachElementBelow(
        doc, [&sections](const pugi::xml_node& element) { Classify(element, sections); });
    return sections;
}

bool IsElement(const pugi::xml_node& node, const char* name) {
    return node.type() == pugi::node_element && Named(node, name);
}

// The first text or CDATA node below the `name` children of `element`, as "Name/text()" selects.
const char* FirstChildText(const pugi::xml_node& element, const char* name) {
    if (!element) return "";
    for (const pugi::xml_node child : element.children()) {
        if (!IsElement(child, name)) continue;
        for (const pugi::xml_node text : child.children()) {
            if (text.type() == pugi::node_pcdata || text.type() == pugi::node_cdata) {
                return text.value();
            }
        }
    }
    return "";
}

// The texts of the document that the conversion writes before its annotations.
struct Header {
    bool hasUser = false;
    std::string height, width, fileName;  // of the first ImageInformation
    std::string captured;                 // Time of the first User
    std::vector<std::string> categories;  // LabelType of every Label of every LabelList
    struct MaskTexts {
        std::string description, index, color;
    };
    std::vector<MaskTexts> masks;
};

// One shape's texts. The views stay valid until the next shape.
struct ShapeTexts {
    std::string_view index, label, center;
    std::string points;  // the Point texts joined by ",", as Join joins them
    std::optional<std::string_view> maskIndex;
};

void AppendPointText(std::string& joined, std::string_view text) {
    if (!joined.empty()) joined += ',';
    joined += text;
}

// Categories numbered from 1 in label-list order; a repeated name resolves to its last id.
LabelTable LabelIds(const std::vector<std::string>& names) {
    LabelTable labels;
    for (std::size_t i = 0; i < names.size(); ++i) labels[names[i]] = static_cast<int>(i + 1);
    return labels;
}

void WriteInfo(JsonStream& out) {
    out.Key("info");
    out.BeginObject();
    out.Key("description");
    out.String(kDescription);
    out.Key("url");
    out.Null();
    out.Key("year");
    out.String(GetCurrentYear());
    out.Key("version");
    out.String("1.0");
    out.Key("contributor");
    out.String("Quillmore");
    out.Key("date_created");
    out.String(GetCurrentDateFormatted());
    out.EndObject();
    out.Key("license");
    out.BeginObject();
    for (const char* key : {"id", "name", "url"}) {
        out.Key(key);
        out.Null();
    }
    out.EndObject();
}

void WriteImage(JsonStream& out, const Header& header) {
    out.Key("images");
    out.BeginObject();
    out.Key("id");
    out.Integer(1);
    out.Key("height");
    out.String(header.height);
    out.Key("width");
    out.String(header.width);
    out.Key("file_name");
    out.String(header.fileName);
    for (const char* key : {"license", "flickr_url", "coco_url"}) {
        out.Key(key);
        out.Null();
    }
    out.Key("date_captured");
    out.String(header.captured);
    out.EndObject();
}

void WriteCategories(JsonStream& out, const std::vector<std::string>& names) {
    out.Key("categories");
    out.BeginArray();
    for (std::size_t i = 0; i < names.size(); ++i) {
        out.BeginObject();
        out.Key("id");
        out.Integer(static_cast<long long>(i + 1));
        out.Key("name");
        out.String(names[i]);
        out.Key("supercategory");
        out.String("");
        out.EndObject();
    }
    out.EndArray();
}

void WriteMasks(JsonStream& out, const Header& header) {
    out.Key("masks");
    out.BeginArray();
    long long id = 1;
    for (const Header::MaskTexts& mask : header.masks) {
        out.BeginObject();
        out.Key("id");
        out.Integer(id++);
        out.Key("description");
        out.String(mask.description);
        out.Key("index");
        out.String(mask.index);
        out.Key("color");
        out.String(mask.color);
        out.EndObject();
    }
    out.EndArray();
}

void WriteNumbers(JsonStream& out, const double* values, std::size_t count) {
    out.BeginArray();
    out.Numbers(values, count);
    out.EndArray();
}

// Reused between shapes, so that a conversion allocates little per shape.
struct ShapeScratch {
    std::string label;
    annoxml::detail::Geometry geometry;
};

void WriteAnnotation(JsonStream& out, const AnnotatedKind& kind, const ShapeTexts& shape,
                     const LabelTable& labels, int id, ShapeScratch& scratch) {
    annoxml::detail::Measure(kind, {shape.index, shape.points, shape.center}, scratch.geometry);
    scratch.label = shape.label;
    const int category = annoxml::detail::CategoryId(labels, scratch.label);
    const annoxml::detail::Geometry& geometry = scratch.geometry;

    out.BeginObject();
    out.Key("id");
    out.Integer(id);
    out.Key("image_id");
    out.Integer(1);
    out.Key("category_id");
    out.Integer(category);
    out.Key("segmentation");
    out.BeginArray();
    WriteNumbers(out, geometry.segmentation.data(), geometry.segmentation.size());
    out.EndArray();
    out.Key("bbox");
    WriteNumbers(out, geometry.bbox.data(), geometry.bbox.size());
    out.Key("area");
    if (geometry.area) {
        out.Number(*geometry.area);
    } else {
        out.Null();
    }
    out.Key("iscrowd");
    out.Integer(0);
    if (shape.maskIndex) {
        out.Key(kind.maskKey);
        out.String(*shape.maskIndex);
    }
    out.EndObject();
}

// The document as the parser built it.
class ParsedSource {
  public:
    explicit ParsedSource(const pugi::xml_document& doc) : sections_(FindSections(doc)) {}

    Header ReadHeader() const {
        Header header;
        header.hasUser = static_cast<bool>(sections_.user);
        header.height = FirstChildText(sections_.image, "Height");
        header.width = FirstChildText(sections_.image, "Width");
        header.fileName = FirstChildText(sections_.image, "FileName");
        header.captured = sections_.user.attribute("Time").value();
        for (const pugi::xml_node& list : sections_.labelLists) {
            for (const pugi::xml_node label : list.children()) {
                if (IsElement(label, "Label")) {
                    header.categories.emplace_back(label.attribute("LabelType").value());
                }
            }
        }
        for (const pugi::xml_node& mask : sections_.masks) {
            header.masks.push_back({mask.attribute("Description").value(),
                                    mask.attribute("Index").value(),
                                    mask.attribute("Color").value()});
        }
        return header;
    }

    template <typename Visit>
    void ForEachShape(std::size_t kind, Visit visit) {
        for (const pugi::xml_node& shape : sections_.shapes[kind]) {
            texts_.points.clear();
            for (const pugi::xml_node point : shape.children()) {
                if (IsElement(point, "Point"))
                    AppendPointText(texts_.points, point.text().as_string(""));
            }
            texts_.center = shape.child("Center").text().as_string("");
            texts_.index = shape.attribute("Index").value();
            texts_.label = shape.attribute("Label").value();
            const pugi::xml_node parent = shape.parent();
            texts_.maskIndex.reset();
            if (Named(parent, "Mask")) texts_.maskIndex = parent.attribute("Index").value();
            visit(texts_);
        }
    }

  private:
    Sections sections_;
    ShapeTexts texts_;
};

// The document read straight from its text, when it is of the kind the scanner reads: the same
// texts as the parser gives, found in one walk without building the parser's tree.
class ScannedSource {
  public:
    // False when the text is left to the parser.
    bool Scan(std::string_view text) {
        if (!annoxml::detail::ParserReadsAsItIs(text)) return false;
        text_ = text;
        return annoxml::detail::WalkDocument(text, *this);
    }

    Header ReadHeader() const {
        Header header;
        header.hasUser = user_.has_value();
        if (image_) {
            header.height = FirstChildText(*image_, "Height");
            header.width = FirstChildText(*image_, "Width");
            header.fileName = FirstChildText(*image_, "FileName");
        }
        if (user_) header.captured = AttributeValue(*user_, "Time");
        for (const std::size_t list : labelLists_) {
            annoxml::detail::ForEachChildElement(
                text_, list, [&](const ScannedElement& label, std::string_view) {
                    if (label.name == "Label") {
                        header.categories.push_back(AttributeValue(label.attributes, "LabelType"));
                    }
                });
        }
        for (const std::string_view mask : masks_) {
            header.masks.push_back({AttributeValue(mask, "Description"),
                                    AttributeValue(mask, "Index"), AttributeValue(mask, "Color")});
        }
        return header;
    }

    template <typename Visit>
    void ForEachShape(std::size_t kind, Visit visit) {
        for (const std::size_t s : kinds_[kind]) {
            const Shape& shape = shapes_[s];
            texts_.points.clear();
            for (const std::string_view point : shape.points) {
                AppendPointText(texts_.points, Normalized(point));
            }
            center_ = Normalized(shape.center);
            texts_.center = center_;
            index_ = AttributeValue(shape.attributes, "Index");
            label_ = AttributeValue(shape.attributes, "Label");
            texts_.index = index_;
            texts_.label = label_;
            texts_.maskIndex.reset();
            if (shape.inMask) {
                maskIndex_ = AttributeValue(shape.maskAttributes, "Index");
                texts_.maskIndex = maskIndex_;
            }
            visit(texts_);
        }
    }

    // Called by WalkDocument. Tags: 0 for elements of no interest, and for a converted shape s,
    // its Point children and its first Center child, the ones below.
    std::size_t Open(const ScannedElement& element, const ScannedElement* parent,
                     std::size_t parentTag) {
        if (IsShapeTag(parentTag)) {
            Shape& shape = shapes_[ShapeOf(parentTag)];
            if (element.name == "Point") {
                shape.points.emplace_back();
                return PointTag(ShapeOf(parentTag));
            }
            if (element.name == "Center" && !shape.centerSeen) {
                shape.centerSeen = true;
                return CenterTag(ShapeOf(parentTag));
            }
        }
        for (std::size_t k = 0; k < std::size(kAnnotatedKinds); ++k) {
            if (element.name == kAnnotatedKinds[k].name) {
                const bool inMask = parent && parent->name == "Mask";
                kinds_[k].push_back(shapes_.size());
                shapes_.push_back({element.attributes,
                                   inMask,
                                   inMask ? parent->attributes : std::string_view(),
                                   {},
                                   {}});
                return ShapeTag(shapes_.size() - 1);
            }
        }
        if (element.name == "Mask") {
            masks_.push_back(element.attributes);
        } else if (element.name == "LabelList") {
            labelLists_.push_back(element.start);
        } else if (!user_ && element.name == "User") {
            user_ = element.attributes;
        } else if (!image_ && element.name == "ImageInformation") {
            image_ = element.start;
        }
        return 0;
    }

    // The first text of a Point or Center: the first character data that is not white space.
    void Text(std::string_view raw, std::size_t tag) {
        if (tag == 0 || IsShapeTag(tag)) return;
        Shape& shape = shapes_[ShapeOf(tag)];
        std::string_view& first = IsPointTag(tag) ? shape.points.back() : shape.center;
        if (first.empty() && !IsAllSpace(raw)) first = raw;
    }

  private:
    struct Shape {
        std::string_view attributes;
        bool inMask;
        std::string_view maskAttributes;
        std::vector<std::string_view> points;  // raw first texts, "" for a Point without one
        std::string_view center;               // raw first text of the first Center child
        bool centerSeen = false;
    };

    static std::size_t ShapeTag(std::size_t shape) { return shape * 4 + 1; }
    static std::size_t PointTag(std::size_t shape) { return shape * 4 + 2; }
    static std::size_t CenterTag(std::size_t shape) { return shape * 4 + 3; }
    static bool IsShapeTag(std::size_t tag) { return tag % 4 == 1; }
    static bool IsPointTag(std::size_t tag) { return tag % 4 == 2; }
    static std::size_t ShapeOf(std::size_t tag) { return tag / 4; }

    static bool IsAllSpace(std::string_view raw) {
        for (const char c : raw) {
            if (!annoxml::detail::IsXmlSpace(c)) return false;
        }
        return true;
    }

    // A raw text as the parser gives it (line ends as "\n").
    std::string_view Normalized(std::string_view raw) {
        std::string_view value;
        return annoxml::detail::TextValue(raw, value, scratch_) ? value : std::string_view();
    }

    // The first text of the first `name` child that has one, as FirstChildText finds it.
    std::string FirstChildText(std::size_t element, std::string_view name) const {
        std::string found;
        annoxml::detail::ForEachChildElement(
            text_, element, [&](const ScannedElement& child, std::string_view text) {
                if (found.empty() && child.name == name) found = text;
            });
        return found;
    }

    std::string_view text_;
    std::optional<std::size_t> image_;
    std::optional<std::string_view> user_;
    std::vector<std::size_t> labelLists_;
    std::vector<std::string_view> masks_;
    std::vector<Shape> shapes_;
    std::vector<std::size_t> kinds_[std::size(kAnnotatedKinds)];  // shapes of each kind
    ShapeTexts texts_;
    std::string index_, label_, center_, maskIndex_, scratch_;
};

template <typename Source>
void WriteAnnotations(JsonStream& out, Source& source, const LabelTable& labels) {
    out.Key("annotations");
    out.BeginArray();
    ShapeScratch scratch;
    int id = 1;
    for (std::size_t k = 0; k < std::size(kAnnotatedKinds); ++k) {
        source.ForEachShape(k, [&](const ShapeTexts& shape) {
            WriteAnnotation(out, kAnnotatedKinds[k], shape, labels, id++, scratch);
        });
    }
    out.EndArray();
}

template <typename Source>
void WriteConversion(Source& source, const std::string& output_path) {
    const Header header = source.ReadHeader();
    if (!header.hasUser) {
        throw std::runtime_error("Invalid xml format");
    }
    const LabelTable labels = LabelIds(header.categories);
    annoxml::detail::PublishConversionLabels(labels);

    JsonStream out(output_path);
    out.BeginObject();
    WriteInfo(out);
    WriteImage(out, header);
    WriteCategories(out, header.categories);
    WriteMasks(out, header);
    WriteAnnotations(out, source, labels);
    out.EndObject();
    out.Commit();
}

}  // namespace

void GenerateCOCOJson(const std::string& path, const std::string& output_path) {
    annoxml::detail::EchoLoadedPath(path);
    annoxml::detail::DocumentBytes bytes = annoxml::detail::ReadDocumentBytes(path);
    {
        ScannedSource scanned;
        if (scanned.Scan(bytes.view())) {
            WriteConversion(scanned, output_path);
            return;
        }
    }  // what a scan that gave up found is released before the parser builds its tree
    const pugi::xml_document doc = annoxml::detail::ParseDocumentBytes(bytes);
    ParsedSource parsed(doc);
    WriteConversion(parsed, output_path);
}
