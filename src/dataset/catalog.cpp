#include <algorithm>
#include <functional>
#include <stdexcept>
#include <utility>

#include "annoxml/dataset.h"
#include "frame/geometry.h"
#include "platform/platform.h"

namespace annoxml {
namespace {

std::string Joined(const std::string& folder, std::string_view fileName) {
    std::string joined = folder;
    if (!joined.empty()) joined += '/';
    joined += fileName;
    return joined;
}

std::string Counted(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

std::optional<LeftOutReason> RegionLeftOut(const Region& region, int width, int height) {
    if (!(region.area > 0)) {
        return LeftOutReason::ZeroArea;
    }
    // A frame without a size cannot place its regions; they count as they are.
    if (width <= 0 || height <= 0) {
        return std::nullopt;
    }
    // Most regions lie inside the image: their area is all inside, and nothing need be clipped.
    const Box& box = region.box;
    if (box.x >= 0 && box.y >= 0 && box.x + box.width <= width && box.y + box.height <= height) {
        return std::nullopt;
    }
    if (!(detail::ShoelaceArea(detail::ClipToImage(region.outline, width, height)) > 0)) {
        return LeftOutReason::OutsideImage;
    }
    return std::nullopt;
}

std::string_view ImageFileName(std::string_view fileName) {
    const std::size_t separator = fileName.find_last_of("/\\");
    return separator == std::string_view::npos ? fileName : fileName.substr(separator + 1);
}

std::string LeftOutSummary(const AdmissionTally& tally) {
    if (tally.leftOut() == 0) {
        return "";
    }
    std::string text = Counted(tally.leftOut(), "region") + " left out:";
    const char* separator = " ";
    if (tally.zeroArea > 0) {
        text += separator + std::to_string(tally.zeroArea) + " zero-area";
        separator = ", ";
    }
    if (tally.outsideImage > 0) {
        text += separator + std::to_string(tally.outsideImage) + " outside the image";
    }
    return text;
}

std::string SplitSummary(const AdmissionTally& tally) {
    if (tally.images.size() == 1 && tally.images.front().first.empty()) {
        return "images: " + std::to_string(tally.images.front().second);
    }
    std::string text = "images per split:";
    const char* separator = " ";
    for (const auto& [split, images] : tally.images) {
        text += separator + std::to_string(images) + " " + split;
        separator = ", ";
    }
    return text;
}

DatasetCatalog::DatasetCatalog(DatasetOptions options) : options_(std::move(options)) {
    for (const auto& [from, to] : options_.renames) {
        renames_.emplace(from, to);  // the first rename of a name wins
    }
    if (options_.categories) {
        categories_ = *options_.categories;
        for (const Category& category : categories_) {
            idsByName_.emplace(category.name, category.id);
        }
    }
    if (options_.splits.empty()) {
        tally_.images.emplace_back("", 0);
    }
    for (const SplitShare& split : options_.splits) {
        tally_.images.emplace_back(split.name, 0);
    }
}

const std::string& DatasetCatalog::Renamed(const std::string& name) const {
    const auto found = renames_.find(name);
    return found == renames_.end() ? name : found->second;
}

void DatasetCatalog::AddCategory(const Label& label) {
    if (label.name.empty() || idsByName_.count(label.name) != 0) {
        return;
    }
    const int id = static_cast<int>(categories_.size()) + 1;
    categories_.push_back({id, label.name, "", label.color});
    idsByName_.emplace(label.name, id);
}

std::vector<int> DatasetCatalog::CategoryIds(const Frame& frame) const {
    std::vector<int> ids;
    ids.reserve(frame.regions.size());
    for (const Region& region : frame.regions) {
        const auto found = idsByName_.find(region.label);
        if (found == idsByName_.end()) {
            throw FrameError(frame.source, ShapeName(region.kind, region.index) + ": label \"" +
                                               region.label + "\" is not in the category list");
        }
        ids.push_back(found->second);
    }
    return ids;
}

namespace {

// Moves the regions that do not count out of `frame`, noting each in `leftOut`.
void LeaveOutRegions(Frame& frame, std::vector<LeftOutRegion>& leftOut) {
    std::size_t kept = 0;
    for (Region& region : frame.regions) {
        const std::optional<LeftOutReason> reason =
            RegionLeftOut(region, frame.width, frame.height);
        if (reason) {
            leftOut.push_back({region.kind, region.index, *reason});
        } else {
            if (&frame.regions[kept] != &region) frame.regions[kept] = std::move(region);
            ++kept;
        }
    }
    frame.regions.resize(kept);
}

}  // namespace

std::string DatasetFileName(const FrameSource& source, const Frame& frame) {
    return Joined(std::string(source.folder()), ImageFileName(frame.fileName));
}

std::optional<std::string> DatasetCatalog::FolderFileNames::Owner(std::string_view image) const {
    if (slots_.empty()) return std::nullopt;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = std::hash<std::string_view>()(image) & mask; slots_[slot] != 0;
         slot = (slot + 1) & mask) {
        const char* entry = text_.data() + slots_[slot] - 1;
        if (image != entry) continue;
        const char* source = entry + image.size() + 1;
        return *source == '/' ? sourceFolder_ + (source + 1) : std::string(source + 1);
    }
    return std::nullopt;
}

void DatasetCatalog::FolderFileNames::Add(std::string_view image, const std::string& source) {
    // The sources of a folder mostly share their folder: it is kept once.
    const std::size_t folderLength = source.rfind('/') + 1;  // 0 without one
    if (count_ == 0) sourceFolder_.assign(source, 0, folderLength);
    const bool inFolder = std::string_view(source).substr(0, folderLength) == sourceFolder_;
    const std::size_t offset = text_.size();
    text_ += image;
    text_ += '\0';
    text_ += inFolder ? '/' : '=';
    text_.append(source, inFolder ? folderLength : 0);
    text_ += '\0';
    // At most three quarters full, so that a search ends soon.
    if (4 * (count_ + 1) > 3 * slots_.size()) {
        std::vector<std::size_t> old(std::max<std::size_t>(16, 2 * slots_.size()), 0);
        old.swap(slots_);
        for (const std::size_t entry : old) {
            if (entry != 0) Place(entry - 1);
        }
    }
    Place(offset);
    ++count_;
}

void DatasetCatalog::FolderFileNames::Clear() {
    text_.clear();
    std::fill(slots_.begin(), slots_.end(), 0);
    count_ = 0;
}

void DatasetCatalog::FolderFileNames::Place(std::size_t offset) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = std::hash<std::string_view>()(text_.data() + offset) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = offset + 1;
}

void DatasetCatalog::AdmitInWalkOrder(std::function<bool(std::string_view folder)> folderMayRecur) {
    folderMayRecur_ = std::move(folderMayRecur);
}

// In walk order, the files of a folder F all have paths that start with "F/", and such paths
// come together: once a frame of a folder neither F nor below it is admitted, no later frame is
// in F, unless another input has a folder of the same name.
void DatasetCatalog::EnterFolder(std::string_view folder) {
    if (!folderMayRecur_) return;
    const auto sameOrAbove = [folder](const std::string& open) {
        return open.empty() || (folder.substr(0, open.size()) == open &&
                                (folder.size() == open.size() || folder[open.size()] == '/'));
    };
    while (!openFolders_.empty() && !sameOrAbove(openFolders_.back())) {
        const auto left = fileNames_.find(openFolders_.back());
        if (left != fileNames_.end() && !folderMayRecur_(left->first)) {
            // Its memory serves the next folder: freed and taken again in pieces of other
            // sizes, it would grow the heap.
            spareNames_ = std::move(left->second);
            spareNames_.Clear();
            fileNames_.erase(left);
        }
        openFolders_.pop_back();
    }
    if (openFolders_.empty() || openFolders_.back() != folder) openFolders_.emplace_back(folder);
}

// Distinct group keys. Relative paths of a walk are distinct but for folders that may recur, so
// per file they are only counted.
void DatasetCatalog::CountGroup(const FrameSource& source, const std::string& key) {
    if (options_.groupBy == GroupBy::File && folderMayRecur_ && !folderMayRecur_(source.folder())) {
        ++tally_.groups;
    } else if (groupHashes_.insert(std::hash<std::string>()(key)).second) {
        ++tally_.groups;
    }
}

DatasetFrame DatasetCatalog::Admit(Frame frame, const FrameSource& source) {
    DatasetFrame admitted;
    admitted.fileName = DatasetFileName(source, frame);
    // Names that differ only in case name one image where file systems ignore case (Windows).
    const std::string image = platform::FileNameKey(std::string(ImageFileName(frame.fileName)));
    FolderFileNames* names = nullptr;
    if (options_.uniqueFileNames) {
        EnterFolder(source.folder());
        const auto [entry, added] = fileNames_.try_emplace(std::string(source.folder()));
        if (added) entry->second = std::exchange(spareNames_, FolderFileNames());
        names = &entry->second;
        if (const std::optional<std::string> owner = names->Owner(image)) {
            throw DuplicateFileName(frame.source, "file_name \"" + admitted.fileName +
                                                      "\" is also the file_name of " + *owner +
                                                      "; both would read the same image");
        }
    }
    for (Label& label : frame.labels) {
        label.name = Renamed(label.name);
    }
    for (Region& region : frame.regions) {
        region.label = Renamed(region.label);
    }
    for (Mark& mark : frame.marks) {
        mark.label = Renamed(mark.label);
    }
    if (!options_.categories) {
        for (const Label& label : frame.labels) {
            AddCategory(label);
        }
    }
    LeaveOutRegions(frame, admitted.leftOut);
    admitted.categoryIds = CategoryIds(frame);
    std::size_t splitIndex = 0;
    if (!options_.splits.empty()) {
        const std::string key = GroupKey(source, options_.groupBy);
        admitted.split = AssignSplit(key, options_.splits, options_.seed);
        while (options_.splits[splitIndex].name != admitted.split) ++splitIndex;
        CountGroup(source, key);
    }
    ++tally_.images[splitIndex].second;
    for (const LeftOutRegion& region : admitted.leftOut) {
        ++(region.reason == LeftOutReason::ZeroArea ? tally_.zeroArea : tally_.outsideImage);
    }
    if (names) names->Add(image, frame.source);
    admitted.frame = std::move(frame);
    return admitted;
}

void DatasetCatalog::CheckSplits() const {
    for (const auto& [split, images] : tally_.images) {
        if (images != 0 || split.empty()) continue;
        const char* unit = options_.groupBy == GroupBy::Folder ? "folder" : "file";
        throw std::runtime_error(
            "split \"" + split + "\" receives no frame: the " + Counted(tally_.groups, unit) +
            " assigned by --group-by " + unit + " all fell in other splits (seed " +
            std::to_string(options_.seed) + "); " +
            (options_.groupBy == GroupBy::Folder ? "use --group-by file, " : "use ") +
            "other shares or another --seed, or leave the split out; nothing was written");
    }
}

}  // namespace annoxml
