#include <stdexcept>

#include "annoxml/reader.h"
#include "reader/document.h"

using annoxml::detail::FirstValue;
using annoxml::detail::ReadFile;

namespace {

FieldMap ReadAttributes(const pugi::xml_node& element,
                        std::initializer_list<std::pair<const char*, const char*>> keyToAttribute) {
    FieldMap fields;
    for (const auto& [key, attribute] : keyToAttribute) {
        fields[key] = element.attribute(attribute).value();
    }
    return fields;
}

}  // namespace

FieldMap ParseImageInformation(const pugi::xml_document& doc) {
    const pugi::xpath_query imageQuery("//ImageInformation");
    const pugi::xpath_query heightQuery("Height/text()");
    const pugi::xpath_query widthQuery("Width/text()");
    const pugi::xpath_query fileNameQuery("FileName/text()");

    const pugi::xml_node image = imageQuery.evaluate_node(doc).node();
    FieldMap fields;
    fields["file_name"] = image ? FirstValue(fileNameQuery, image) : "";
    fields["height"] = image ? FirstValue(heightQuery, image) : "";
    fields["width"] = image ? FirstValue(widthQuery, image) : "";
    return fields;
}

FieldMap ParseUserInformation(const pugi::xml_document& doc) {
    const pugi::xpath_query userQuery("//User");
    const pugi::xml_node user = userQuery.evaluate_node(doc).node();
    if (!user) {
        throw std::runtime_error("Invalid xml format");
    }
    return ReadAttributes(
        user, {{"user_id", "UserID"}, {"mode", "Mode"}, {"state", "State"}, {"time", "Time"}});
}

FieldMapList ParseLabelList(const pugi::xml_document& doc) {
    const pugi::xpath_query listQuery("//LabelList");
    const pugi::xpath_query labelQuery("Label");

    FieldMapList labels;
    for (const pugi::xpath_node& list : listQuery.evaluate_node_set(doc)) {
        for (const pugi::xpath_node& label : labelQuery.evaluate_node_set(list.node())) {
            labels.push_back(
                ReadAttributes(label.node(), {{"LabelType", "LabelType"},
                                              {"LabelDetail", "LabelDetail"},
                                              {"LabelColor", "LabelColor"},
                                              {"LabelDescription", "LabelDescription"}}));
        }
    }
    return labels;
}

FieldMapList ParseMask(const pugi::xml_document& doc) {
    const pugi::xpath_query maskQuery("//Mask");

    FieldMapList masks;
    for (const pugi::xpath_node& mask : maskQuery.evaluate_node_set(doc)) {
        masks.push_back(ReadAttributes(
            mask.node(), {{"description", "Description"}, {"index", "Index"}, {"color", "Color"}}));
    }
    return masks;
}

FieldMap ParseImageInformation(const std::string& path) {
    return ReadFile(path, [](const pugi::xml_document& doc) { return ParseImageInformation(doc); });
}

FieldMap ParseUserInformation(const std::string& path) {
    return ReadFile(path, [](const pugi::xml_document& doc) { return ParseUserInformation(doc); });
}

FieldMapList ParseLabelList(const std::string& path) {
    return ReadFile(path, [](const pugi::xml_document& doc) { return ParseLabelList(doc); });
}

FieldMapList ParseMask(const std::string& path) {
    return ReadFile(path, [](const pugi::xml_document& doc) { return ParseMask(doc); });
}
