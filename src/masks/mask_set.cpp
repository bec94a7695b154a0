// A folder of mask images for a data set.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "annoxml/masks.h"
#include "util/atomic_file.h"
#include "util/export_folder.h"
#include "util/export_paths.h"

namespace annoxml {

MaskSetWriter::MaskSetWriter(Options options)
    : options_(std::move(options)),
      folder_(std::make_unique<detail::ExportFolder>(options_.outDir, options_.force)) {}

MaskSetWriter::~MaskSetWriter() = default;

bool MaskSetWriter::IsSelected(const std::string& name) const {
    const std::vector<std::string>& labels = options_.labels;
    return labels.empty() || std::find(labels.begin(), labels.end(), name) != labels.end();
}

MaskRequest MaskSetWriter::Request(const DatasetFrame& admitted,
                                   const std::vector<Category>& categories) const {
    MaskRequest request;
    request.mode = options_.mode;
    request.categoryIds = admitted.categoryIds;
    for (const Category& category : categories) {
        request.largestCategoryId = std::max(request.largestCategoryId, category.id);
    }
    if (!options_.labels.empty()) {
        for (const Region& region : admitted.frame.regions) {
            request.selected.push_back(IsSelected(region.label));
        }
    }
    return request;
}

MaskSetWriter::Task MaskSetWriter::Plan(DatasetFrame admitted,
                                        const std::vector<Category>& categories) {
    const std::filesystem::path root = folder_->staging() / std::filesystem::u8path(admitted.split);
    const std::filesystem::path path = detail::ExportPath(root, admitted.fileName, ".png");
    detail::ClaimPath(written_, path, admitted.frame.source);
    MaskRequest request = Request(admitted, categories);
    return {path.string(), std::move(request), std::move(admitted.frame)};
}

void MaskSetWriter::Render(const Task& task) {
    const MaskImage image = RenderMask(task.frame, task.request);
    detail::CreateParentFolders(std::filesystem::u8path(task.path));
    WritePng(image, task.path);
}

void MaskSetWriter::Write(DatasetFrame admitted, const std::vector<Category>& categories) {
    Render(Plan(std::move(admitted), categories));
}

std::vector<std::string> MaskSetWriter::Finish(const DatasetCatalog& catalog) {
    catalog.CheckSplits();
    return Finish(catalog.categories());
}

std::vector<std::string> MaskSetWriter::Finish(const std::vector<Category>& categories) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Category& category : categories) {
        if (IsSelected(category.name)) {
            list.push_back(
                {{"id", category.id}, {"name", category.name}, {"color", category.color}});
        }
    }
    const std::filesystem::path path = folder_->staging() / "categories.json";
    detail::WriteFileAtomically(path.string(), list.dump(2) + "\n");
    folder_->Commit();
    std::vector<std::string> unmatched;
    for (const std::string& label : options_.labels) {
        if (std::none_of(categories.begin(), categories.end(),
                         [&label](const Category& c) { return c.name == label; })) {
            unmatched.push_back(label);
        }
    }
    return unmatched;
}

}  // namespace annoxml
