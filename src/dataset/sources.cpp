#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "annoxml/dataset.h"

namespace fs = std::filesystem;

namespace annoxml {
namespace {

bool IsDirectory(const std::string& input) {
    std::error_code error;
    return fs::is_directory(input, error);
}

// Every regular *.xml file below `folder`, relative to it, sorted in byte order.
std::vector<std::string> XmlFilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    try {
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
            std::error_code error;
            if (entry.path().extension() == ".xml" && entry.is_regular_file(error)) {
                files.push_back(entry.path().lexically_relative(folder).generic_string());
            }
        }
    } catch (const fs::filesystem_error& error) {
        throw std::runtime_error(folder + ": cannot list folder: " + error.code().message());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

std::vector<FrameSource> ListFrameSources(const std::vector<std::string>& inputs) {
    std::vector<FrameSource> sources;
    for (const std::string& input : inputs) {
        if (input == "-") {
            sources.push_back({"/dev/stdin", "", "-"});
            continue;
        }
        if (!IsDirectory(input)) {
            sources.push_back({input, "", input});
            continue;
        }
        for (const std::string& relative : XmlFilesBelow(input)) {
            sources.push_back({(fs::path(input) / relative).string(),
                               fs::path(relative).parent_path().generic_string(), relative});
        }
    }
    return sources;
}

std::string GroupKey(const FrameSource& source, GroupBy groupBy) {
    if (groupBy == GroupBy::File) {
        return source.relativePath;
    }
    return fs::path(source.relativePath).parent_path().generic_string();
}

}  // namespace annoxml
