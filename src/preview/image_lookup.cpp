#include "preview/image_lookup.h"

#include <algorithm>
#include <vector>

#include "preview/markup.h"

namespace annoxml::detail {
namespace fs = std::filesystem;

std::optional<fs::path> FindImage(const Frame& frame, const std::string& imagesDir) {
    std::string name = frame.fileName;
    std::replace(name.begin(), name.end(), '\\', '/');
    const fs::path image = fs::path(name).relative_path();
    if (image.empty()) return std::nullopt;
    std::vector<fs::path> folders;
    if (!imagesDir.empty()) folders.push_back(imagesDir);
    folders.push_back(fs::path(frame.source).parent_path());
    for (const fs::path& folder : folders) {
        for (const fs::path& candidate : {folder / image, folder / image.filename()}) {
            std::error_code error;
            if (fs::is_regular_file(candidate, error)) return candidate;
        }
    }
    return std::nullopt;
}

std::string RelativeLink(const fs::path& target, const fs::path& from) {
    std::error_code error;
    const fs::path absoluteTarget = fs::weakly_canonical(fs::absolute(target), error);
    const fs::path absoluteFrom = fs::weakly_canonical(fs::absolute(from), error);
    return PercentEncodePath(absoluteTarget.lexically_relative(absoluteFrom).generic_string());
}

}  // namespace annoxml::detail
