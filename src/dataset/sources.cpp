#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "annoxml/dataset.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace annoxml {
namespace {

bool IsDirectory(const std::string& input) {
    std::error_code error;
    return fs::is_directory(fs::u8path(input), error);
}

// As path::extension() == ".xml" for the file's name: ".xml" alone has no extension.
bool HasXmlExtension(std::string_view name) {
    constexpr std::string_view kExtension = ".xml";
    return name.size() > kExtension.size() &&
           name.substr(name.size() - kExtension.size()) == kExtension;
}

// Every regular *.xml file below `folder`, sorted by the path below it in byte order, appended
// to `sources`. Studies list hundreds of thousands of files: they are gathered in a deque, which
// never holds twice their size as a growing vector does, and moved over one by one.
// The length of the folder's own name at the end of `folder` (trailing slashes aside); 0 for a
// name that says nothing of the folder: "", ".", "..".
std::size_t OwnNameLength(const std::string& folder) {
    const std::size_t end = folder.find_last_not_of(platform::kPathSeparators);
    if (end == std::string::npos) return 0;
    const std::size_t slash = folder.find_last_of(platform::kPathSeparators, end);
    const std::string_view name =
        std::string_view(folder).substr(slash == std::string::npos ? 0 : slash + 1,
                                        end - (slash == std::string::npos ? 0 : slash + 1) + 1);
    return name == "." || name == ".." ? 0 : name.size() + (folder.size() - 1 - end);
}

void AppendXmlFilesBelow(const std::string& folder, bool keepName,
                         std::vector<FrameSource>& sources) {
    std::deque<FrameSource> files;
    // Windows' paths may end in a backslash too.
    const bool endsInSeparator = std::strchr(platform::kPathSeparators, folder.back()) != nullptr;
    std::size_t prefix = folder.size() + (endsInSeparator ? 0 : 1);
    const std::size_t nameLength = keepName ? OwnNameLength(folder) : 0;
    if (nameLength > 0) {
        prefix -= nameLength + (endsInSeparator ? 0 : 1);
    }
    try {
        platform::ForEachFileBelow(folder, HasXmlExtension, [&](std::string&& path) {
            const std::size_t relative = path.size() - prefix;
            files.push_back(FrameSource::Below(std::move(path), relative));
        });
    } catch (const platform::SystemError& error) {
        throw std::runtime_error(
            folder + ": cannot list folder: " + std::generic_category().message(error.error));
    }
    // Every path starts with the same text, so the paths sort as the paths below the folder.
    std::sort(files.begin(), files.end(),
              [](const FrameSource& a, const FrameSource& b) { return a.path < b.path; });
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
    return ListFrameSources(inputs, inputs.size() > 1);
}

std::vector<FrameSource> ListFrameSources(const std::vector<std::string>& inputs,
                                          bool keepFolderNames) {
    std::vector<FrameSource> sources;
    for (const std::string& input : inputs) {
        if (input == "-") {
            sources.push_back(FrameSource::StandardInput());
        } else if (!IsDirectory(input)) {
            sources.push_back(FrameSource::File(input));
        } else {
            AppendXmlFilesBelow(input, keepFolderNames, sources);
        }
    }
    return sources;
}

std::string GroupKey(const FrameSource& source, GroupBy groupBy) {
    const std::string relative(source.relativePath());
    if (groupBy == GroupBy::File) {
        return relative;
    }
    return fs::u8path(relative).parent_path().generic_string();
}

}  // namespace annoxml
