#include <algorithm>
#include <cstring>
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

bool EndsInSeparator(const std::string& path) {
    return !path.empty() && std::strchr(platform::kPathSeparators, path.back()) != nullptr;
}

// `folder` as the start of the paths of what it holds.
std::string WithSeparator(std::string folder) {
    if (!EndsInSeparator(folder)) folder += '/';
    return folder;
}

std::string CannotList(const std::string& folder, const platform::SystemError& error) {
    return folder + ": cannot list folder: " + std::generic_category().message(error.error);
}

// The number of *.xml files below `folder`, at any depth. Throws platform::SystemError when a
// folder cannot be listed.
std::size_t CountXmlFilesBelow(const std::string& folder) {
    std::size_t count = 0;
    std::vector<std::string> pending{WithSeparator(folder)};
    while (!pending.empty()) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        platform::ForEachEntryIn(path, HasXmlExtension, [&](std::string_view name, bool isFolder) {
            if (isFolder) {
                pending.push_back(path + std::string(name) + '/');
            } else {
                ++count;
            }
        });
    }
    return count;
}

std::string_view FirstComponent(std::string_view path) { return path.substr(0, path.find('/')); }

}  // namespace

FrameSourceWalk::FrameSourceWalk(std::vector<std::string> inputs, bool keepFolderNames,
                                 const std::function<void(const std::string& message)>& unlisted)
    : keepFolderNames_(keepFolderNames) {
    for (std::string& input : inputs) {
        const bool folder = input != "-" && IsDirectory(input);
        try {
            count_ += folder ? CountXmlFilesBelow(input) : 1;
        } catch (const platform::SystemError& error) {
            if (!unlisted) throw std::runtime_error(CannotList(input, error));
            unlisted(CannotList(input, error));
            continue;
        }
        inputs_.emplace_back(std::move(input), folder);
    }
}

FrameSourceWalk::~FrameSourceWalk() = default;

bool FrameSourceWalk::Next(FrameSource& source) {
    while (true) {
        if (depth_ == 0) {
            if (nextInput_ == inputs_.size()) return false;
            const auto& [input, folder] = inputs_[nextInput_++];
            if (!folder) {
                source = input == "-" ? FrameSource::StandardInput() : FrameSource::File(input);
                return true;
            }
            relativeStart_ = WithSeparator(input).size();
            const std::size_t nameLength = keepFolderNames_ ? OwnNameLength(input) : 0;
            if (nameLength > 0) relativeStart_ -= nameLength + (input.back() == '/' ? 0 : 1);
            Enter(WithSeparator(input));
            continue;
        }
        Level& level = levels_[depth_ - 1];
        if (level.next == level.entries.size()) {
            --depth_;
            continue;
        }
        const auto [first, length] = level.entries[level.next++];
        const std::string_view name(level.names.data() + first, length);
        std::string path;
        path.reserve(level.path.size() + name.size());  // one allocation, not two
        path += level.path;
        path += name;
        if (name.back() == '/') {
            Enter(std::move(path));
            continue;
        }
        const std::size_t relativeLength = path.size() - relativeStart_;
        source = FrameSource::Below(std::move(path), relativeLength);
        return true;
    }
}

// Lists `folder` (ending in a separator) as the next level of the walk. Its entries sort as the
// whole paths below them would: a folder's name is followed by "/", as in every path below it.
void FrameSourceWalk::Enter(std::string folder) {
    // A level's memory is kept for the next folder at its depth: a study's folders are often
    // alike, and memory that is freed and taken again in pieces of other sizes grows the heap.
    if (depth_ == levels_.size()) levels_.emplace_back();
    Level& level = levels_[depth_];
    level.path = std::move(folder);
    level.names.clear();
    level.entries.clear();
    level.next = 0;
    try {
        platform::ForEachEntryIn(
            level.path, HasXmlExtension, [&level](std::string_view name, bool isFolder) {
                const auto first = static_cast<std::uint32_t>(level.names.size());
                level.names += name;
                if (isFolder) level.names += '/';
                level.entries.emplace_back(first,
                                           static_cast<std::uint32_t>(level.names.size() - first));
            });
    } catch (const platform::SystemError& error) {
        lateFailures_.push_back(CannotList(inputs_[nextInput_ - 1].first, error));
        return;
    }
    const std::string_view names = level.names;
    std::sort(level.entries.begin(), level.entries.end(), [names](const auto& a, const auto& b) {
        return names.substr(a.first, a.second) < names.substr(b.first, b.second);
    });
    ++depth_;
}

std::function<bool(std::string_view folder)> FrameSourceWalk::FolderMayRecur() const {
    // The first component of every relative folder of an input folder is its kept name; without
    // one, it may be anything.
    std::vector<std::string> names;
    std::size_t unnamed = 0;
    for (const auto& [input, folder] : inputs_) {
        if (!folder) continue;
        const std::size_t length = keepFolderNames_ ? OwnNameLength(input) : 0;
        if (length == 0) {
            ++unnamed;
        } else {
            names.emplace_back(
                FirstComponent(std::string_view(input).substr(input.size() - length)));
        }
    }
    return [names = std::move(names), unnamed](std::string_view folder) {
        const std::string_view first = FirstComponent(folder);
        return folder.empty() ||
               unnamed + static_cast<std::size_t>(std::count(names.begin(), names.end(), first)) >
                   1;
    };
}

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
    FrameSourceWalk walk(inputs, keepFolderNames);
    std::vector<FrameSource> sources;
    sources.reserve(walk.Count());
    FrameSource source;
    while (walk.Next(source)) sources.push_back(std::move(source));
    if (!walk.lateFailures().empty()) throw std::runtime_error(walk.lateFailures().front());
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
