#include "read_command.h"

#include <stdexcept>

#include "annoxml/reader.h"

using Json = nlohmann::ordered_json;

namespace annoxml::cli {
namespace {

Json ToJson(const FieldMap& fields) {
    Json object = Json::object();
    for (const auto& [key, value] : fields) {
        object[key] = value;
    }
    return object;
}

Json ToJson(const FieldMapList& list) {
    Json array = Json::array();
    for (const FieldMap& fields : list) {
        array.push_back(ToJson(fields));
    }
    return array;
}

Json ToJson(const AnnotationTable& table) {
    Json object = Json::object();
    for (const auto& [kind, shapes] : table) {
        object[kind] = ToJson(shapes);
    }
    return object;
}

Json Section(const pugi::xml_document& doc, const std::string& section) {
    if (section == "image") return ToJson(ParseImageInformation(doc));
    if (section == "user") return ToJson(ParseUserInformation(doc));
    if (section == "labels") return ToJson(ParseLabelList(doc));
    if (section == "masks") return ToJson(ParseMask(doc));
    if (section == "shapes") return ToJson(GetAllAnnotations(doc));
    throw std::invalid_argument("unknown section " + section);
}

}  // namespace

const std::vector<std::string>& SectionNames() {
    static const std::vector<std::string> names{"image", "user",   "labels",
                                                "masks", "shapes", "all"};
    return names;
}

Json ReadSection(const std::string& path, const std::string& section) {
    const pugi::xml_document doc = LoadXml(path);
    if (section != "all") {
        return Section(doc, section);
    }
    Json all = Json::object();
    for (const std::string& name : SectionNames()) {
        if (name != "all") {
            all[name] = Section(doc, name);
        }
    }
    return all;
}

}  // namespace annoxml::cli
