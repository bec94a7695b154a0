#include "annoxml/reader.h"
#include "reader/document.h"

AnnotationTable GetAllAnnotations(const pugi::xml_document& doc) {
    return annoxml::detail::ReadAllShapes(doc);
}

AnnotationTable GetAllAnnotations(const std::string& path) {
    return annoxml::detail::ReadFile(
        path, [](const pugi::xml_document& doc) { return GetAllAnnotations(doc); });
}
