// Where the per-frame exports (mask images, YOLO labels and images) put their files.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace annoxml::cli {

// `root` / the data-set file name, its extension replaced by `extension` ("" keeps it). Throws
// std::runtime_error for a file name that is empty, absolute or climbs out with "..".
std::filesystem::path ExportPath(const std::filesystem::path& root, const std::string& fileName,
                                 const std::string& extension);

// The files written in one run, so that two frames with the same file name fail instead of
// overwriting each other. Frames are claimed on one thread, in data-set order.
class ClaimedPaths {
  public:
    // Throws std::runtime_error naming the earlier frame when `path` is taken.
    void Claim(const std::filesystem::path& path, const std::string& source);

  private:
    std::map<std::filesystem::path, std::string> owners_;
};

// Creates the folders that `path` lies in.
void CreateParentFolders(const std::filesystem::path& path);

}  // namespace annoxml::cli
