// Where the per-frame exports (mask images, YOLO labels and images) put their files.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace annoxml::detail {

// `root` / the data-set file name, its extension replaced by `extension` ("" keeps it). Throws
// std::runtime_error for a file name that is empty, absolute or climbs out with "..".
std::filesystem::path ExportPath(const std::filesystem::path& root, const std::string& fileName,
                                 const std::string& extension);

// Records that `source` writes `path` (path -> source), so that two frames with the same file
// name fail instead of overwriting each other. Throws std::runtime_error naming the earlier frame
// when `path` is taken.
void ClaimPath(std::map<std::string, std::string>& owners, const std::filesystem::path& path,
               const std::string& source);

// Creates the folders that `path` lies in.
void CreateParentFolders(const std::filesystem::path& path);

}  // namespace annoxml::detail
