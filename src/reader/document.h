// Helpers shared by the reading functions.
#pragma once

#include <string>

#include <pugixml.hpp>

#include "annoxml/reader.h"

namespace annoxml::detail {

// The path form of a reading function: loads the file, reads it, and releases the document on
// every exit.
template <typename Read>
auto ReadFile(const std::string& path, Read read) {
    const pugi::xml_document doc = LoadXml(path);
    return read(doc);
}

// The value of the first node that `query` selects from `context`, "" when there is none.
inline std::string FirstValue(const pugi::xpath_query& query, const pugi::xml_node& context) {
    const pugi::xpath_node found = query.evaluate_node(context);
    return found ? found.node().value() : "";
}

// The text of the first child element named `name`: its first text or CDATA node, "" if none.
inline std::string ChildText(const pugi::xml_node& element, const char* name) {
    return element.child(name).text().as_string("");
}

}  // namespace annoxml::detail
