#include "reader/load.h"

#include <iostream>
#include <stdexcept>

#include "annoxml/reader.h"

namespace annoxml::detail {

pugi::xml_document LoadDocument(const std::string& path) {
    pugi::xml_document doc;
    const pugi::xml_parse_result result =
        doc.load_file(path.c_str(), pugi::parse_default, pugi::encoding_auto);
    if (!result) {
        throw std::runtime_error(std::string("Failed to load xml file: ") + result.description());
    }
    return doc;
}

}  // namespace annoxml::detail

pugi::xml_document LoadXml(const std::string& path) {
    std::cout << path;
    return annoxml::detail::LoadDocument(path);
}
