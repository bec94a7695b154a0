#include <algorithm>
#include <deque>
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

// As path::extension() == ".xml": a name that is ".xml" alone has no extension.
bool HasXmlExtension(std::string_view path) {
    constexpr std::string_view kExtension = ".xml";
    if (path.size() <= kExtension.size() || path.substr(path.size() - 4) != kExtension) {
        return false;
    }
    return path[path.size() - kExtension.size() - 1] != '/';
}

// A path below `folder` that does not start with its text.
FrameSource Below(const std::string& folder, const fs::path& path) {
    const std::string relative = path.lexically_relative(folder).generic_string();
    return FrameSource::Below((fs::path(folder) / relative).string(), relative.size());
}

// Every regular *.xml file below `folder`, sorted by the path below it in byte order, appended
// to `sources`. Studies list hundreds of thousands of files: they are gathered in a deque, which
// never holds twice their size as a growing vector does, and moved over one by one.
void AppendXmlFilesBelow(const std::string& folder, std::vector<FrameSource>& sources) {
    std::deque<FrameSource> files;
    // The iterator's paths are the folder's own text, a separator unless it ends in one, and
    // the path below it.
    const std::size_t prefix = folder.size() + (folder.back() == '/' ? 0 : 1);
    try {
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
            const std::string& path = entry.path().native();
            std::error_code error;
            if (HasXmlExtension(path) && entry.is_regular_file(error)) {
                files.push_back(path.compare(0, folder.size(), folder) == 0
                                    ? FrameSource::Below(path, path.size() - prefix)
                                    : Below(folder, entry.path()));
            }
        }
    } catch (const fs::filesystem_error& error) {
        throw std::runtime_error(folder + ": cannot list folder: " + error.code().message());
    }
    std::sort(files.begin(), files.end(), [](const FrameSource& a, const FrameSource& b) {
        return a.relativePath() < b.relativePath();
    });
    sources.reserve(sources.size() + files.size());
    while (!files.empty()) {
        sources.push_back(std::move(files.front()));
        files.pop_front();
    }
}

}  // namespace

FrameSource FrameSource::File(std::string path) {
    FrameSource source;
    source.path = std::move(path);
    return source;
}

FrameSource FrameSource::Below(std::string path, std::size_t relativeLength) {
    FrameSource source;
    source.relativeStart = static_cast<std::uint32_t>(path.size() - relativeLength);
    const std::size_t slash = std::string_view(path).substr(source.relativeStart).rfind('/');
    source.folderLength = static_cast<std::uint32_t>(slash == std::string_view::npos ? 0 : slash);
    source.path = std::move(path);
    return source;
}

FrameSource FrameSource::StandardInput() {
    FrameSource source;
    source.path = "/dev/stdin";
    source.relativeStart = static_cast<std::uint32_t>(source.path.size());
    return source;
}

std::string_view FrameSource::relativePath() const {
    const std::string_view relative = std::string_view(path).substr(relativeStart);
    return relative.empty() ? std::string_view("-") : relative;
}

std::string_view FrameSource::folder() const {
    return std::string_view(path).substr(relativeStart, folderLength);
}

std::vector<FrameSource> ListFrameSources(const std::vector<std::string>& inputs) {
    std::vector<FrameSource> sources;
    for (const std::string& input : inputs) {
        if (input == "-") {
            sources.push_back(FrameSource::StandardInput());
        } else if (!IsDirectory(input)) {
            sources.push_back(FrameSource::File(input));
        } else {
            AppendXmlFilesBelow(input, sources);
        }
    }
    return sources;
}

std::string GroupKey(const FrameSource& source, GroupBy groupBy) {
    const std::string relative(source.relativePath());
    if (groupBy == GroupBy::File) {
        return relative;
    }
    return fs::path(relative).parent_path().generic_string();
}

}  // namespace annoxml
