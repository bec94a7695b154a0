// Loading documents, shared by LoadXml and the frame model.
#pragma once

#include <string>

#include <pugixml.hpp>

namespace annoxml::detail {

// Loads the file without echoing its path. Throws std::runtime_error("Failed to load xml file: "
// + reason) when it cannot.
pugi::xml_document LoadDocument(const std::string& path);

}  // namespace annoxml::detail
