// Finding a frame's image and linking to it from the pages.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "annoxml/frame.h"

namespace annoxml::detail {

// `target` relative to the folder `from`, percent-encoded for an href or src.
std::string RelativeLink(const std::string& target, const std::filesystem::path& from);

}  // namespace annoxml::detail
