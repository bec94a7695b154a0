#include "util/export_paths.h"

#include <algorithm>
#include <stdexcept>

#include "platform/platform.h"

namespace annoxml::detail {

std::filesystem::path ExportPath(const std::filesystem::path& root, const std::string& fileName,
                                 const std::string& extension) {
    std::filesystem::path relative = std::filesystem::u8path(fileName);
    const bool climbs = std::any_of(relative.begin(), relative.end(),
                                    [](const auto& part) { return part == ".."; });
    if (fileName.empty() || relative.has_root_path() || climbs || !relative.has_filename()) {
        throw std::runtime_error("file name \"" + fileName +
                                 "\" does not lie below the output folder");
    }
    if (!extension.empty()) {
        relative.replace_extension(extension);
    }
    return root / relative;
}

void ClaimPath(std::map<std::string, std::string>& owners, const std::filesystem::path& path,
               const std::string& source) {
    const auto [owner, inserted] =
        owners.emplace(platform::FileNameKey(path.lexically_normal().string()), source);
    if (!inserted) {
        throw std::runtime_error(path.string() + " is written for " + owner->second +
                                 " already (same file name)");
    }
}

void CreateParentFolders(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        throw std::runtime_error("Cannot create " + path.parent_path().string() + ": " +
                                 error.message());
    }
}

}  // namespace annoxml::detail
