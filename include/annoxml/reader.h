// Reading annotation XML files into field maps.
//
// Every reading function has two forms: one for a loaded document, which only reads it, and one
// for a file path, which loads the file with LoadXml and releases it on every exit. Values are the
// texts of the file, unconverted; anything missing reads as "" or as an empty list.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "annoxml/export.h"

// One XML element: fixed key to value text, iterated in byte-wise key order.
using FieldMap = std::map<std::string, std::string>;
// One FieldMap per matched element, in document order.
using FieldMapList = std::vector<FieldMap>;
// Shape kind name ("Rectangle", ...) to that kind's shapes; always holds all fifteen kinds.
using AnnotationTable = std::map<std::string, FieldMapList>;

// Writes the path to standard output (no line end), then loads the file. Throws
// std::runtime_error("Failed to load xml file: " + parser description) when it cannot.
ANNOXML_API pugi::xml_document LoadXml(const std::string& path);

// Header sections. ParseUserInformation throws std::runtime_error("Invalid xml format") when the
// document has no User element.
ANNOXML_API FieldMap ParseImageInformation(const pugi::xml_document& doc);
ANNOXML_API FieldMap ParseImageInformation(const std::string& path);
ANNOXML_API FieldMap ParseUserInformation(const pugi::xml_document& doc);
ANNOXML_API FieldMap ParseUserInformation(const std::string& path);
ANNOXML_API FieldMapList ParseLabelList(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseLabelList(const std::string& path);
ANNOXML_API FieldMapList ParseMask(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseMask(const std::string& path);

// Shapes, one FieldMap per element of the kind at any depth, in document order.
ANNOXML_API FieldMapList ParseRectangleAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseRectangleAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseLineAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseLineAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParsePolygonAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParsePolygonAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseCircleAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseCircleAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseFreehandContourAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseFreehandContourAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseRulerAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseRulerAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseEllipseAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseEllipseAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseTextAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseTextAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseArrowTextAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseArrowTextAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParsePolyLineAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParsePolyLineAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseFreehandPolyLineAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseFreehandPolyLineAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseAngleAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseAngleAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParsePointObjectAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParsePointObjectAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseCobbAngleAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseCobbAngleAnnotations(const std::string& path);
ANNOXML_API FieldMapList ParseDeviationAnnotations(const pugi::xml_document& doc);
ANNOXML_API FieldMapList ParseDeviationAnnotations(const std::string& path);

// All fifteen shape kinds of a document at once.
ANNOXML_API AnnotationTable GetAllAnnotations(const pugi::xml_document& doc);
ANNOXML_API AnnotationTable GetAllAnnotations(const std::string& path);
