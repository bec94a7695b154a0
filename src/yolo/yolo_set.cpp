// A YOLO data set folder: label files, images and data.yaml.
#include <algorithm>
#include <stdexcept>

#include "annoxml/yolo.h"
#include "util/atomic_file.h"
#include "util/export_folder.h"
#include "util/export_paths.h"

namespace annoxml {
namespace {

namespace fs = std::filesystem;

const std::string& SplitOf(const DatasetFrame& admitted) {
    static const std::string train = "train";
    return admitted.split.empty() ? train : admitted.split;
}

std::vector<int> ClassesOf(const DatasetFrame& admitted, const std::vector<Category>& categories) {
    std::vector<int> classes;
    for (const int id : admitted.categoryIds) {
        const auto found = std::find_if(categories.begin(), categories.end(),
                                        [id](const Category& c) { return c.id == id; });
        if (found == categories.end()) {
            throw std::runtime_error("category id " + std::to_string(id) + " is not listed");
        }
        classes.push_back(static_cast<int>(found - categories.begin()));
    }
    return classes;
}

// A new symbolic link at `to` to the image, relative to the folder the link will lie in once the
// export is in place (a sibling of the staging folder, so the same relative path), so that a
// copied or moved export keeps its images as long as they keep their place relative to it.
// False, with nothing written, where the system or file system makes no symbolic links (Windows
// without the right to make them, or a C runtime without them).
bool LinkFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    const fs::path target = fs::weakly_canonical(fs::absolute(from), error);
    const fs::path folder = fs::weakly_canonical(fs::absolute(to.parent_path()), error);
    fs::path link = target.lexically_relative(folder);
    if (link.empty()) link = target;
    fs::create_symlink(link, to, error);
    if (error == std::errc::not_supported || error == std::errc::function_not_supported ||
        error == std::errc::operation_not_permitted) {
        return false;
    }
    if (error) {
        throw std::runtime_error("Cannot write " + to.string() + ": " + error.message());
    }
    return true;
}

}  // namespace

std::string YoloLabelPath(const std::string& imagePath) {
    std::string path = imagePath;
    const std::size_t images = path.rfind("/images/");
    if (images != std::string::npos) path.replace(images, 8, "/labels/");
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
    return path + ".txt";
}

YoloSetWriter::YoloSetWriter(Options options)
    : options_(std::move(options)),
      folder_(std::make_unique<detail::ExportFolder>(options_.outDir, options_.force)) {}

YoloSetWriter::~YoloSetWriter() = default;

std::string YoloSetWriter::FindImage(const Frame& frame, const std::string& datasetFileName) const {
    if (!options_.imagesDir) {
        return "";
    }
    const std::optional<std::string> image =
        FindFrameImage(frame, datasetFileName, *options_.imagesDir);
    if (!image) {
        throw std::runtime_error("no image for " + datasetFileName + " in " + *options_.imagesDir +
                                 ", nor beside the annotation file");
    }
    return *image;
}

void YoloSetWriter::Write(const DatasetFrame& admitted, const std::vector<Category>& categories) {
    const std::string& split = SplitOf(admitted);
    // Checked for the image's path, whose label path the trainer derives.
    detail::ExportPath("images", admitted.fileName, "");
    const std::string image = "images/" + split + "/" + admitted.fileName;
    // Relative to the root with a leading '/', so that the root's own folder names play no part.
    const fs::path label = fs::u8path(YoloLabelPath("/" + image).substr(1));
    const fs::path root = folder_->staging();
    const std::string source = FindImage(admitted.frame, admitted.fileName);
    detail::ClaimPath(written_, label, admitted.frame.source);
    const std::string text =
        YoloLabels(admitted.frame, ClassesOf(admitted, categories), options_.task);
    // The image first: a label file whose image is missing would be a frame without picture,
    // an image without its label a background frame.
    const fs::path to = root / fs::u8path(image);
    if (!source.empty()) {
        detail::CreateParentFolders(to);
        if (options_.copyImages) {
            detail::CopyToNewFile(fs::u8path(source), to);
        } else if (!LinkFile(fs::u8path(source), to)) {
            detail::CopyToNewFile(fs::u8path(source), to);
            ++imagesCopiedForLinks_;
        }
    }
    try {
        detail::CreateParentFolders(root / label);
        detail::WriteFileAtomically((root / label).string(), text);
    } catch (const std::exception&) {
        std::error_code ignored;
        if (!source.empty()) fs::remove(to, ignored);
        throw;
    }
}

void YoloSetWriter::Finish(const DatasetCatalog& catalog) {
    catalog.CheckSplits();
    Finish(catalog.categories(), catalog.options().splits);
}

void YoloSetWriter::Finish(const std::vector<Category>& categories,
                           const std::vector<SplitShare>& splits) {
    YoloDataset dataset;
    for (const SplitShare& split : splits) {
        dataset.splits.push_back(split.name);
    }
    if (dataset.splits.empty()) {
        dataset.splits.push_back("train");
    }
    for (const Category& category : categories) {
        dataset.names.push_back(category.name);
    }
    detail::WriteFileAtomically((folder_->staging() / "data.yaml").string(), DataYaml(dataset));
    folder_->Commit();
}

}  // namespace annoxml
