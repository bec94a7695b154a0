// GenerateCOCOJson: one walk over the document finds every section; the JSON text is written
// while it is produced, into a temporary file that replaces the output only when complete.
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "annoxml/coco.h"
#include "annoxml/reader.h"
#include "annoxml/util.h"
#include "coco/converters.h"
#include "coco/json_stream.h"
#include "coco/label_table.h"
#include "reader/document.h"
#include "util/names.h"

namespace {

using annoxml::detail::AnnotatedKind;
using annoxml::detail::JsonStream;
using annoxml::detail::kAnnotatedKinds;
using annoxml::detail::LabelTable;

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

// The LabelType of every Label child of every label list, in order.
std::vector<std::string> CategoryNames(const Sections& sections) {
    std::vector<std::string> names;
    for (const pugi::xml_node& list : sections.labelLists) {
        for (const pugi::xml_node label : list.children()) {
            if (IsElement(label, "Label")) names.emplace_back(label.attribute("LabelType").value());
        }
    }
    return names;
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

void WriteImage(JsonStream& out, const Sections& sections) {
    out.Key("images");
    out.BeginObject();
    out.Key("id");
    out.Integer(1);
    out.Key("height");
    out.String(FirstChildText(sections.image, "Height"));
    out.Key("width");
    out.String(FirstChildText(sections.image, "Width"));
    out.Key("file_name");
    out.String(FirstChildText(sections.image, "FileName"));
    for (const char* key : {"license", "flickr_url", "coco_url"}) {
        out.Key(key);
        out.Null();
    }
    out.Key("date_captured");
    out.String(sections.user.attribute("Time").value());
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

void WriteMasks(JsonStream& out, const Sections& sections) {
    out.Key("masks");
    out.BeginArray();
    long long id = 1;
    for (const pugi::xml_node& mask : sections.masks) {
        out.BeginObject();
        out.Key("id");
        out.Integer(id++);
        out.Key("description");
        out.String(mask.attribute("Description").value());
        out.Key("index");
        out.String(mask.attribute("Index").value());
        out.Key("color");
        out.String(mask.attribute("Color").value());
        out.EndObject();
    }
    out.EndArray();
}

void WriteNumbers(JsonStream& out, const double* values, std::size_t count) {
    out.BeginArray();
    for (std::size_t i = 0; i < count; ++i) out.Number(values[i]);
    out.EndArray();
}

// The texts of the shape's Point children joined by ",", as Join joins them.
void JoinPointTexts(const pugi::xml_node& shape, std::string& joined) {
    joined.clear();
    for (const pugi::xml_node point : shape.children()) {
        if (!IsElement(point, "Point")) continue;
        if (!joined.empty()) joined += ',';
        joined += point.text().as_string("");
    }
}

// Reused between shapes, so that a conversion allocates little per shape.
struct ShapeScratch {
    std::string points;
    std::string label;
    annoxml::detail::Geometry geometry;
};

void WriteAnnotation(JsonStream& out, const AnnotatedKind& kind, const pugi::xml_node& shape,
                     const LabelTable& labels, int id, ShapeScratch& scratch) {
    JoinPointTexts(shape, scratch.points);
    // The text that the shape reader stores as "center", read without a copy.
    const char* const center = shape.child("Center").text().as_string("");
    annoxml::detail::Measure(kind, {shape.attribute("Index").value(), scratch.points, center},
                             scratch.geometry);
    scratch.label = shape.attribute("Label").value();
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
    const pugi::xml_node parent = shape.parent();
    if (Named(parent, "Mask")) {
        out.Key(kind.maskKey);
        out.String(parent.attribute("Index").value());
    }
    out.EndObject();
}

void WriteAnnotations(JsonStream& out, const Sections& sections, const LabelTable& labels) {
    out.Key("annotations");
    out.BeginArray();
    ShapeScratch scratch;
    int id = 1;
    for (std::size_t k = 0; k < std::size(kAnnotatedKinds); ++k) {
        for (const pugi::xml_node& shape : sections.shapes[k]) {
            WriteAnnotation(out, kAnnotatedKinds[k], shape, labels, id++, scratch);
        }
    }
    out.EndArray();
}

}  // namespace

void GenerateCOCOJson(const std::string& path, const std::string& output_path) {
    const pugi::xml_document doc = LoadXml(path);
    const Sections sections = FindSections(doc);
    if (!sections.user) {
        throw std::runtime_error("Invalid xml format");
    }
    const std::vector<std::string> names = CategoryNames(sections);
    const LabelTable labels = LabelIds(names);
    annoxml::detail::PublishConversionLabels(labels);

    JsonStream out(output_path);
    out.BeginObject();
    WriteInfo(out);
    WriteImage(out, sections);
    WriteCategories(out, names);
    WriteMasks(out, sections);
    WriteAnnotations(out, sections, labels);
    out.EndObject();
    out.Commit();
}
