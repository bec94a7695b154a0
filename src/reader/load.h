// Loading documents, shared by LoadXml and the frame model.
#pragma once

#include <string>

#include <pugixml.hpp>

namespace annoxml::detail {

// Loads the file without echoing its path. Reads regular files, pipes, FIFOs and devices alike;
// a document that declares an encoding the parser does not know is transcoded to UTF-8 first.
// Throws std::runtime_error("Failed to load xml file: " + reason) when it cannot.
pugi::xml_document LoadDocument(const std::string& path);

// Throws std::runtime_error("Failed to load xml file: " + reason).
[[noreturn]] void FailToLoad(const std::string& reason);

}  // namespace annoxml::detail
