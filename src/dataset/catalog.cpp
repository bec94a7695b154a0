#include <functional>
#include <stdexcept>

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

DatasetFrame DatasetCatalog::Admit(Frame frame, const FrameSource& source) {
    DatasetFrame admitted;
    admitted.fileName = DatasetFileName(source, frame);
    // Names that differ only in case name one image where file systems ignore case (Windows).
    const auto owner = fileNames_.find(platform::FileNameKey(admitted.fileName));
    if (options_.uniqueFileNames && owner != fileNames_.end()) {
        throw DuplicateFileName(frame.source, "file_name \"" + admitted.fileName +
                                                  "\" is also the file_name of " + owner->second +
                                                  "; both would read the same image");
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
        if (groupHashes_.insert(std::hash<std::string>()(key)).second) ++tally_.groups;
    }
    ++tally_.images[splitIndex].second;
    for (const LeftOutRegion& region : admitted.leftOut) {
        ++(region.reason == LeftOutReason::ZeroArea ? tally_.zeroArea : tally_.outsideImage);
    }
    if (options_.uniqueFileNames) {
        fileNames_.emplace(platform::FileNameKey(admitted.fileName), frame.source);
    }
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
