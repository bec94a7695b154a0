// Helpers shared by the reading functions.
#pragma once

#include <string>

#include <pugixml.hpp>

#include "annoxml/reader.h"
#include "util/names.h"

namespace annoxml::detail {

// The path form of a reading function: loads the file, reads it, and releases the document on
// every exit.
template <typename Read>
auto ReadFile(const std::string& path, Read read) {
    const pugi::xml_document doc = LoadXml(path);
    return read(doc);
}

// Calls visit(element) for every element below `context`, in document order: the elements that
// "//*" selects from a document. A plain walk costs a fraction of evaluating the query.
template <typename Visit>
void ForEachElementBelow(const pugi::xml_node& context, Visit visit) {
    pugi::xml_node node = context.first_child();
    while (node) {
        if (node.type() == pugi::node_element) {
            visit(node);
            if (const pugi::xml_node child = node.first_child()) {
                node = child;
                continue;
            }
        }
        while (node != context && !node.next_sibling()) node = node.parent();
        if (node == context) break;
        node = node.next_sibling();
    }
}

// Every shape of the fifteen kinds, read in one walk: what GetAllAnnotations gives.
AnnotationTable ReadAllShapes(const pugi::xml_document& doc);

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
