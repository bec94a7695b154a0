// Where a data-set frame's image lies.
#include <filesystem>

#include "annoxml/dataset.h"

namespace fs = std::filesystem;

namespace annoxml {
namespace {

// FileName's last component: what follows the last / or \.
std::string LastComponent(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

bool IsFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

}  // namespace

std::optional<std::string> FindFrameImage(const DatasetFrame& frame, const std::string& imagesDir) {
    const std::string name = LastComponent(frame.frame.fileName);
    if (name.empty()) return std::nullopt;
    std::vector<fs::path> candidates;
    if (!imagesDir.empty()) {
        candidates.push_back(fs::path(imagesDir) / frame.fileName);
        candidates.push_back(fs::path(imagesDir) / name);
    }
    candidates.push_back(fs::path(frame.frame.source).parent_path() / name);
    for (const fs::path& candidate : candidates) {
        if (IsFile(candidate)) return candidate.string();
    }
    return std::nullopt;
}

}  // namespace annoxml
