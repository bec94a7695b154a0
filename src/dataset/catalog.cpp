#include "annoxml/dataset.h"

namespace annoxml {
namespace {

std::string Joined(const std::string& folder, const std::string& fileName) {
    return folder.empty() ? fileName : folder + "/" + fileName;
}

}  // namespace

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

DatasetFrame DatasetCatalog::Admit(Frame frame, const FrameSource& source) {
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
    DatasetFrame admitted;
    admitted.categoryIds = CategoryIds(frame);
    admitted.fileName = Joined(std::string(source.folder()), frame.fileName);
    if (!options_.splits.empty()) {
        admitted.split =
            AssignSplit(GroupKey(source, options_.groupBy), options_.splits, options_.seed);
    }
    admitted.frame = std::move(frame);
    return admitted;
}

}  // namespace annoxml
