#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

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

// Room for the listings the count keeps for the walk: those of about 80,000 files.
constexpr std::size_t kKeptListingBytes = std::size_t{2} << 20;

std::string_view FirstComponent(std::string_view path) { return path.substr(0, path.find('/')); }

// The eight bytes of `name` from `at` as a number that orders as they do, zeros past its end
// (no name holds a zero byte, so a shorter name orders first).
std::uint64_t SortKey(std::string_view name, std::size_t at) {
    unsigned char bytes[8] = {};
    if (at < name.size()) {
        std::memcpy(bytes, name.data() + at, std::min<std::size_t>(sizeof bytes, name.size() - at));
    }
    std::uint64_t key = 0;
    for (const unsigned char byte : bytes) key = key << 8 | byte;
    return key;
}

// The names of a folder mostly begin alike ("frame-0..."): past what all of them share, eight
// bytes as a number order nearly all of them, and whole names are compared only where those are
// equal. Folders of tens of thousands of files are sorted in a fraction of the time.
void SortByName(std::string_view names,
                std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
    using Entry = std::pair<std::uint32_t, std::uint32_t>;
    const auto name = [names](const Entry& entry) {
        return names.substr(entry.first, entry.second);
    };
    if (entries.empty()) return;
    const std::string_view first = name(entries.front());
    std::size_t shared = first.size();
    for (const Entry& entry : entries) {
        const std::string_view other = name(entry);
        shared = static_cast<std::size_t>(
            std::mismatch(first.begin(), first.begin() + std::min(shared, other.size()),
                          other.begin())
                .first -
            first.begin());
    }
    std::vector<std::pair<std::uint64_t, Entry>> keyed;
    keyed.reserve(entries.size());
    for (const Entry& entry : entries) {
        keyed.emplace_back(SortKey(name(entry), shared), entry);
    }
    std::sort(keyed.begin(), keyed.end(), [&name](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        return name(a.second) < name(b.second);
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) entries[i] = keyed[i].second;
}

}  // namespace

// Lists every folder below the input folders, on several threads: counts each input's files,
// finds the inputs of which a folder cannot be listed, and keeps sorted listings for the walk
// within kKeptListingBytes.
class FrameSourceWalk::Census {
  public:
    explicit Census(std::size_t inputs) : files_(inputs), failures_(inputs) {}

    void AddFolder(std::size_t input, std::string path) {
        pending_.push_back({input, std::move(path)});
    }

    // Lists until no folder is left, on up to `threads` threads, the calling one included.
    // Rethrows, once every thread is done, what stopped the listing other than a folder that
    // cannot be listed (memory running out).
    void Run(unsigned threads) {
        helpersWanted_ = threads > 1 ? threads - 1 : 0;
        Work(true);
        for (std::thread& helper : helpers_) helper.join();
        if (error_) std::rethrow_exception(error_);
    }

    std::size_t files(std::size_t input) const { return files_[input]; }
    // The failure of the first folder, by path, of the input that could not be listed.
    const std::optional<std::pair<std::string, platform::SystemError>>& failure(
        std::size_t input) const {
        return failures_[input];
    }
    std::unordered_map<std::string, Listing>& kept() { return kept_; }

  private:
    struct Folder {
        std::size_t input;
        std::string path;
    };

    // Helpers start once there are folders for them: a thread that waits from the start is
    // woken late on a machine with few cores, after the first folders are listed by the other.
    // Nothing escapes it: an exception leaving a helper would end the process.
    void Work(bool starter) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (true) {
            while (pending_.empty() && busy_ > 0) changed_.wait(lock);
            if (pending_.empty()) return;
            if (starter && helpers_.size() < helpersWanted_ && pending_.size() > 1) StartHelper();
            Folder folder = std::move(pending_.back());
            pending_.pop_back();
            ++busy_;
            lock.unlock();
            Listing listing;
            std::optional<platform::SystemError> failure;
            std::exception_ptr error;
            try {
                List(folder.path, listing);
            } catch (const platform::SystemError& caught) {
                failure = caught;
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            --busy_;
            try {
                if (error) std::rethrow_exception(error);
                if (failure) {
                    Fail(folder, *failure);
                } else {
                    Take(folder, std::move(listing));
                }
            } catch (...) {
                // The other threads stop after their current folder.
                if (!error_) error_ = std::current_exception();
                pending_.clear();
            }
            changed_.notify_all();
        }
    }

    // A system that refuses another thread leaves the listing to the threads there are.
    void StartHelper() {
        try {
            helpers_.emplace_back([this] { Work(false); });
        } catch (const std::system_error&) {
            helpersWanted_ = helpers_.size();
        }
    }

    // Called with the lock held.
    void Fail(const Folder& folder, platform::SystemError error) {
        auto& failure = failures_[folder.input];
        if (!failure || folder.path < failure->first) failure.emplace(folder.path, error);
    }

    // Counts the listing's files and queues its folders, then keeps it if there is room. Called
    // with the lock held.
    void Take(const Folder& folder, Listing listing) {
        for (const auto& [first, length] : listing.entries) {
            if (listing.names[first + length - 1] != '/') {
                ++files_[folder.input];
            } else {
                pending_.push_back(
                    {folder.input, folder.path + listing.names.substr(first, length)});
            }
        }
        const std::size_t bytes = folder.path.size() + listing.names.size() +
                                  listing.entries.size() * sizeof listing.entries[0];
        // A folder given twice is kept once.
        if (bytes <= keptRoom_ && kept_.emplace(folder.path, std::move(listing)).second) {
            keptRoom_ -= bytes;
        }
    }

    std::vector<std::size_t> files_;
    std::vector<std::optional<std::pair<std::string, platform::SystemError>>> failures_;
    std::unordered_map<std::string, Listing> kept_;
    std::size_t keptRoom_ = kKeptListingBytes;
    std::vector<Folder> pending_;
    std::size_t busy_ = 0;  // folders being listed, which may add more
    std::size_t helpersWanted_ = 0;
    std::vector<std::thread> helpers_;  // the starter's own
    std::exception_ptr error_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

FrameSourceWalk::FrameSourceWalk(std::vector<std::string> inputs, bool keepFolderNames,
                                 const std::function<void(const std::string& message)>& unlisted,
                                 unsigned threads)
    : keepFolderNames_(keepFolderNames) {
    Census census(inputs.size());
    std::vector<bool> folders(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        folders[i] = inputs[i] != "-" && IsDirectory(inputs[i]);
        if (folders[i]) census.AddFolder(i, WithSeparator(inputs[i]));
    }
    census.Run(threads);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (const auto& failure = census.failure(i)) {
            const std::string message = CannotList(inputs[i], failure->second);
            if (!unlisted) throw std::runtime_error(message);
            unlisted(message);
            continue;
        }
        count_ += folders[i] ? census.files(i) : 1;
        inputs_.emplace_back(std::move(inputs[i]), folders[i]);
    }
    kept_ = std::move(census.kept());
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
        if (level.next == level.listing.entries.size()) {
            --depth_;
            continue;
        }
        const auto [first, length] = level.listing.entries[level.next++];
        const std::string_view name(level.listing.names.data() + first, length);
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

// Lists `folder` (ending in a separator) into `listing`, its entries sorted as the whole paths
// below them would sort: a folder's name is followed by "/", as in every path below it.
void FrameSourceWalk::List(const std::string& folder, Listing& listing) {
    listing.names.clear();
    listing.entries.clear();
    platform::ForEachEntryIn(
        folder, HasXmlExtension, [&listing](std::string_view name, bool isFolder) {
            const auto first = static_cast<std::uint32_t>(listing.names.size());
            listing.names += name;
            if (isFolder) listing.names += '/';
            listing.entries.emplace_back(first,
                                         static_cast<std::uint32_t>(listing.names.size() - first));
        });
    SortByName(listing.names, listing.entries);
}

// Makes `folder` (ending in a separator) the next level of the walk, with the count's listing of
// it when kept.
void FrameSourceWalk::Enter(std::string folder) {
    // A level's memory is kept for the next folder at its depth: a study's folders are often
    // alike, and memory that is freed and taken again in pieces of other sizes grows the heap.
    if (depth_ == levels_.size()) levels_.emplace_back();
    Level& level = levels_[depth_];
    level.path = std::move(folder);
    level.next = 0;
    if (const auto kept = kept_.find(level.path); kept != kept_.end()) {
        std::swap(level.listing, kept->second);
        kept_.erase(kept);
    } else {
        try {
            List(level.path, level.listing);
        } catch (const platform::SystemError& error) {
            lateFailures_.push_back(CannotList(inputs_[nextInput_ - 1].first, error));
            return;
        }
    }
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
