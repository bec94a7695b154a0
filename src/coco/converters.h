#pragma once

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include "coco/label_table.h"

namespace annoxml::detail {

// The "annotations" array of `doc`, with labels resolved against `labels`.
nlohmann::ordered_json BuildAnnotations(const pugi::xml_document& doc, const LabelTable& labels);

}  // namespace annoxml::detail
