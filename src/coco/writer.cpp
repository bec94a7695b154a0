#include <string>

#include "annoxml/coco.h"
#include "annoxml/reader.h"
#include "annoxml/util.h"
#include "coco/converters.h"
#include "coco/label_table.h"
#include "util/atomic_file.h"

namespace {

using Json = nlohmann::ordered_json;
using annoxml::detail::LabelTable;

const char* const kDescription =
    "Endoscopy annotation XML converted to COCO format by Quillmore's annotation converter";

// Missing keys read as "".
std::string ValueOf(const FieldMap& fields, const std::string& key) {
    const auto found = fields.find(key);
    return found == fields.end() ? "" : found->second;
}

Json Info() {
    Json info;
    info["description"] = kDescription;
    info["url"] = nullptr;
    info["year"] = GetCurrentYear();
    info["version"] = "1.0";
    info["contributor"] = "Quillmore";
    info["date_created"] = GetCurrentDateFormatted();
    return info;
}

Json License() {
    Json license;
    license["id"] = nullptr;
    license["name"] = nullptr;
    license["url"] = nullptr;
    return license;
}

Json Image(const FieldMap& image, const FieldMap& user) {
    Json object;
    object["id"] = 1;
    object["height"] = ValueOf(image, "height");
    object["width"] = ValueOf(image, "width");
    object["file_name"] = ValueOf(image, "file_name");
    object["license"] = nullptr;
    object["flickr_url"] = nullptr;
    object["coco_url"] = nullptr;
    object["date_captured"] = ValueOf(user, "time");
    return object;
}

// Categories numbered from 1 in label-list order; a repeated name resolves to its last id.
Json Categories(const FieldMapList& labelList, LabelTable& labels) {
    Json categories = Json::array();
    int id = 1;
    for (const FieldMap& label : labelList) {
        const std::string name = ValueOf(label, "LabelType");
        Json category;
        category["id"] = id;
        category["name"] = name;
        category["supercategory"] = "";
        categories.push_back(std::move(category));
        labels[name] = id;
        ++id;
    }
    return categories;
}

}  // namespace

void GenerateCOCOJson(const std::string& path, const std::string& output_path) {
    const pugi::xml_document doc = LoadXml(path);
    const FieldMap image = ParseImageInformation(doc);
    const FieldMap user = ParseUserInformation(doc);
    const FieldMapList labelList = ParseLabelList(doc);

    LabelTable labels;
    Json coco;
    coco["info"] = Info();
    coco["license"] = License();
    coco["images"] = Image(image, user);
    coco["categories"] = Categories(labelList, labels);
    annoxml::detail::PublishConversionLabels(labels);
    coco["masks"] = GetMasks(doc);
    coco["annotations"] = annoxml::detail::BuildAnnotations(doc, labels);

    annoxml::detail::WriteFileAtomically(output_path, coco.dump(4));
}
