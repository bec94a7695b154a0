#pragma once

#include <map>
#include <string>

#include "annoxml/reader.h"

namespace annoxml::detail {

// Category name to category id.
using LabelTable = std::map<std::string, int>;

// The id of `label`; throws std::out_of_range("invalid map<K, T> key") when it has none.
int CategoryId(const LabelTable& labels, const std::string& label);

// The table that the most recent conversion built, for callers of GetAnnotations and the shape
// converters that do not pass a table of their own.
LabelTable LastConversionLabels();
void PublishConversionLabels(const LabelTable& labels);

}  // namespace annoxml::detail
