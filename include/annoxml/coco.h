// Conversion of an annotation file into a COCO-style JSON data set.
#pragma once

#include <string>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "annoxml/export.h"

// Converts the annotation file at `path` and writes the JSON document to `output_path`, indented
// by 4 spaces, without a final newline. The output is replaced only by a complete new file: on any
// failure an existing file is left as it was and no temporary file remains.
//
// Throws std::runtime_error for a file that cannot be loaded, has no User element, holds a shape
// whose coordinates are too few or not finite, or an output that cannot be written (the message
// names the output path and the system's reason); std::out_of_range("invalid map<K, T> key") for a
// shape whose label is not in the file's label list; nlohmann::json::type_error for text that is
// not valid UTF-8.
//
// Each conversion resolves labels against its own file's label list only, so conversions may run
// on several threads at once.
ANNOXML_API void GenerateCOCOJson(const std::string& path, const std::string& output_path);

// The "masks" array: one object per Mask element, numbered from 1.
ANNOXML_API nlohmann::ordered_json GetMasks(const pugi::xml_document& doc);

// The "annotations" array: rectangles, then circles, then polygons, numbered from 1 by one
// counter. Labels resolve against the label list of the most recent GenerateCOCOJson call.
ANNOXML_API nlohmann::ordered_json GetAnnotations(const pugi::xml_document& doc);

// Append one annotation per shape of the kind to `annotations`, numbering from `annotationId`,
// which is left holding the id for the next annotation.
ANNOXML_API void GetRectangles(const pugi::xml_document& doc, nlohmann::ordered_json& annotations,
                               int& annotationId);
ANNOXML_API void GetCircles(const pugi::xml_document& doc, nlohmann::ordered_json& annotations,
                            int& annotationId);
ANNOXML_API void GetPolygons(const pugi::xml_document& doc, nlohmann::ordered_json& annotations,
                             int& annotationId);
