// Finding a frame's image and linking to it from the pages.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "annoxml/frame.h"

namespace annoxml::detail {

// The first existing file of: IMAGES/FileName, IMAGES/its last component, then the same beside
// the annotation file. Backslashes in FileName count as folder separators. `imagesDir` may be "".
std::optional<std::filesystem::path> FindImage(const Frame& frame, const std::string& imagesDir);

// `target` relative to the folder `from`, percent-encoded for an href or src.
std::string RelativeLink(const std::filesystem::path& target, const std::filesystem::path& from);

}  // namespace annoxml::detail
