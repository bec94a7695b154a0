// `annoxml read`: what the reading functions return for one file, as JSON.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace annoxml::cli {

// The names accepted by --section; "all" gives an object holding the other five.
const std::vector<std::string>& SectionNames();

// Field maps become objects, lists arrays, the annotation table an object keyed by shape kind.
// Throws what the reading functions throw.
nlohmann::ordered_json ReadSection(const std::string& path, const std::string& section);

}  // namespace annoxml::cli
