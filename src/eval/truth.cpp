// Ground truth from a COCO instances file or from data-set frames.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "annoxml/eval.h"
#include "eval/segmentation.h"

namespace annoxml {
namespace {

using nlohmann::json;

std::string FolderOf(const std::string& fileName) {
    const std::size_t slash = fileName.find_last_of("/\\");
    return slash == std::string::npos ? "" : fileName.substr(0, slash);
}

const json& Member(const json& entry, const char* key) {
    const auto found = entry.find(key);
    if (found == entry.end()) throw std::invalid_argument(std::string("no \"") + key + "\"");
    return *found;
}

std::int64_t IdOf(const json& entry, const char* key) {
    const json& value = Member(entry, key);
    if (!value.is_number_integer()) {
        throw std::invalid_argument(std::string("\"") + key + "\" is not an integer");
    }
    return value.get<std::int64_t>();
}

const json& ArrayOf(const json& doc, const char* key) {
    const auto found = doc.find(key);
    if (found == doc.end() || !found->is_array()) {
        throw std::invalid_argument(std::string("no \"") + key + "\" array");
    }
    return *found;
}

}  // namespace

const char* IouTypeName(IouType type) { return type == IouType::Bbox ? "bbox" : "segm"; }

long GroundTruth::ImageIndex(std::int64_t id) const {
    const auto found = imageIndex_.find(id);
    return found == imageIndex_.end() ? -1 : static_cast<long>(found->second);
}

long GroundTruth::CategoryIndex(std::int64_t id) const {
    const auto found = categoryIndex_.find(id);
    return found == categoryIndex_.end() ? -1 : static_cast<long>(found->second);
}

GroundTruth GroundTruth::LoadCoco(const std::string& path, MaskNeeds needs) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) throw std::runtime_error(path + ": cannot be opened");
    json doc;
    try {
        doc = json::parse(in);
    } catch (const json::exception& error) {
        throw std::runtime_error(path + ": malformed JSON: " + error.what());
    }
    GroundTruth truth;
    std::string where;
    try {
        if (!doc.is_object()) throw std::invalid_argument("not a COCO instances object");
        const json& images = ArrayOf(doc, "images");
        for (std::size_t i = 0; i < images.size(); ++i) {
            where = "images[" + std::to_string(i) + "]: ";
            const json& image = images[i];
            EvalImage entry;
            entry.id = IdOf(image, "id");
            entry.width = static_cast<int>(IdOf(image, "width"));
            entry.height = static_cast<int>(IdOf(image, "height"));
            const auto name = image.find("file_name");
            if (name != image.end() && name->is_string()) entry.fileName = name->get<std::string>();
            entry.folder = FolderOf(entry.fileName);
            if (!truth.imageIndex_.emplace(entry.id, truth.images_.size()).second) {
                throw std::invalid_argument("image id " + std::to_string(entry.id) + " repeated");
            }
            truth.images_.push_back(std::move(entry));
        }
        const json& categories = ArrayOf(doc, "categories");
        for (std::size_t i = 0; i < categories.size(); ++i) {
            where = "categories[" + std::to_string(i) + "]: ";
            EvalCategory entry;
            entry.id = IdOf(categories[i], "id");
            const json& name = Member(categories[i], "name");
            entry.name = name.is_string() ? name.get<std::string>() : name.dump();
            if (!truth.categoryIndex_.emplace(entry.id, truth.categories_.size()).second) {
                throw std::invalid_argument("category id " + std::to_string(entry.id) +
                                            " repeated");
            }
            truth.categories_.push_back(std::move(entry));
        }
        const json& annotations = ArrayOf(doc, "annotations");
        truth.objects_.reserve(annotations.size());
        for (std::size_t i = 0; i < annotations.size(); ++i) {
            where = "annotations[" + std::to_string(i) + "]: ";
            const json& annotation = annotations[i];
            TruthObject object;
            object.id = IdOf(annotation, "id");
            object.imageId = IdOf(annotation, "image_id");
            object.categoryId = IdOf(annotation, "category_id");
            const long image = truth.ImageIndex(object.imageId);
            // The reference evaluates only the listed images and categories.
            if (image < 0 || truth.CategoryIndex(object.categoryId) < 0) continue;
            object.box = detail::ParseBox(Member(annotation, "bbox"));
            const auto crowd = annotation.find("iscrowd");
            object.crowd =
                crowd != annotation.end() && crowd->is_number() && crowd->get<double>() != 0;
            const EvalImage& frame = truth.images_[static_cast<std::size_t>(image)];
            if (needs.coco || needs.pixel) {
                const detail::SegmentationValue segmentation(Member(annotation, "segmentation"),
                                                             frame.height, frame.width);
                if (needs.coco) object.mask = segmentation.CocoMask();
                if (needs.pixel) object.pixelMask = segmentation.PixelMask();
            }
            const auto area = annotation.find("area");
            if (area != annotation.end() && area->is_number()) {
                object.area = area->get<double>();
            } else {
                object.area = object.box.width * object.box.height;
            }
            truth.objects_.push_back(std::move(object));
        }
    } catch (const std::exception& error) {
        throw std::runtime_error(path + ": " + where + error.what());
    }
    return truth;
}

void GroundTruth::AddFrame(const DatasetFrame& admitted, const std::string& folder,
                           MaskNeeds needs) {
    const Frame& frame = admitted.frame;
    EvalImage image;
    image.id = static_cast<std::int64_t>(images_.size()) + 1;
    image.width = frame.width;
    image.height = frame.height;
    image.fileName = admitted.fileName;
    image.folder = folder;
    imageIndex_.emplace(image.id, images_.size());
    for (std::size_t i = 0; i < frame.regions.size(); ++i) {
        const Region& region = frame.regions[i];
        TruthObject object;
        object.id = static_cast<std::int64_t>(objects_.size()) + 1;
        object.imageId = image.id;
        object.categoryId = admitted.categoryIds.at(i);
        object.area = region.area;
        object.box = region.box;
        if (needs.coco) object.mask = RleFromPolygon(region.outline, frame.height, frame.width);
        if (needs.pixel) {
            object.pixelMask = detail::PixelMaskOf(region.outline, frame.height, frame.width);
        }
        objects_.push_back(std::move(object));
    }
    images_.push_back(std::move(image));
}

void GroundTruth::SetCategories(const std::vector<Category>& categories) {
    categories_.clear();
    categoryIndex_.clear();
    for (const Category& category : categories) {
        categoryIndex_.emplace(category.id, categories_.size());
        categories_.push_back({category.id, category.name});
    }
}

}  // namespace annoxml
