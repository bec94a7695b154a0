// Where a frame's image lies: one lookup for every export and front end that needs the picture.
#include <filesystem>

#include "annoxml/dataset.h"

namespace annoxml {

std::optional<std::string> FindFrameImage(const DatasetFrame& frame, const std::string& imagesDir) {
    return FindFrameImage(frame.frame, frame.fileName, imagesDir);
}

std::optional<std::string> FindFrameImage(const Frame& frame, const std::string& datasetFileName,
                                          const std::string& imagesDir) {
    namespace fs = std::filesystem;
    const std::string_view image = ImageFileName(frame.fileName);
    std::vector<fs::path> candidates;
    if (!imagesDir.empty()) {
        if (!datasetFileName.empty())
            candidates.push_back(fs::u8path(imagesDir) / fs::u8path(datasetFileName));
        if (!image.empty()) candidates.push_back(fs::u8path(imagesDir) / fs::u8path(image));
    }
    if (!image.empty()) {
        candidates.push_back(fs::u8path(frame.source).parent_path() / fs::u8path(image));
    }
    for (const fs::path& candidate : candidates) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) return candidate.string();
    }
    return std::nullopt;
}

}  // namespace annoxml
