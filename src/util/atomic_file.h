#pragma once

#include <string>

namespace annoxml::detail {

// Writes `content` to a new temporary file beside `path` and renames it over `path`, so that
// `path` holds either its old content or the complete new one. Throws std::runtime_error naming
// `path` and the system's reason; no temporary file is left behind.
void WriteFileAtomically(const std::string& path, const std::string& content);

}  // namespace annoxml::detail
