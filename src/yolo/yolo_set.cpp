// A YOLO data set folder: label files, images and data.yaml.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <stdexcept>

#include "annoxml/yolo.h"
#include "platform/platform.h"
#include "util/atomic_file.h"
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

void CopyFile(const fs::path& from, const fs::path& to) {
    std::ifstream in(from, std::ios::binary);
    detail::OutputFile out(to.string());
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        out.Write({buffer.data(), static_cast<std::size_t>(in.gcount())});
    }
    if (!in.eof()) {
        throw std::runtime_error("Cannot read " + from.string());
    }
    out.Commit();
}

// A symbolic link to the image's absolute path, made beside `to` and renamed over it, so that
// `to` is the old file or the new link and never missing.
void LinkFile(const fs::path& from, const fs::path& to) {
    static std::atomic<unsigned long> counter{0};
    const fs::path temporary = to.string() + ".tmp-" + std::to_string(platform::ProcessId()) + "-" +
                               std::to_string(++counter);
    std::error_code error;
    fs::create_symlink(fs::absolute(from), temporary, error);
    if (!error) {
        fs::rename(temporary, to, error);
        if (error) fs::remove(temporary);
    }
    if (error) {
        throw std::runtime_error("Cannot write " + to.string() + ": " + error.message());
    }
}

}  // namespace

YoloSetWriter::YoloSetWriter(Options options) : options_(std::move(options)) {}

void YoloSetWriter::CheckImage(const std::string& fileName) const {
    if (!options_.imagesDir) {
        return;
    }
    const fs::path image = detail::ExportPath(*options_.imagesDir, fileName, "");
    std::error_code error;
    if (!fs::is_regular_file(image, error)) {
        throw std::runtime_error("image " + image.string() + " not found");
    }
}

void YoloSetWriter::Write(const DatasetFrame& admitted, const std::vector<Category>& categories) {
    const fs::path root = fs::path(options_.outDir);
    const std::string& split = SplitOf(admitted);
    const fs::path labels = detail::ExportPath(root / "labels" / split, admitted.fileName, ".txt");
    CheckImage(admitted.fileName);
    detail::ClaimPath(written_, labels, admitted.frame.source);
    const std::string text =
        YoloLabels(admitted.frame, ClassesOf(admitted, categories), options_.task);
    detail::CreateParentFolders(labels);
    detail::WriteFileAtomically(labels.string(), text);
    if (options_.imagesDir) {
        const fs::path from = detail::ExportPath(*options_.imagesDir, admitted.fileName, "");
        const fs::path to = detail::ExportPath(root / "images" / split, admitted.fileName, "");
        detail::CreateParentFolders(to);
        (options_.copyImages ? CopyFile : LinkFile)(from, to);
    }
}

void YoloSetWriter::Finish(const std::vector<Category>& categories,
                           const std::vector<SplitShare>& splits) const {
    YoloDataset dataset;
    dataset.path = fs::absolute(options_.outDir).lexically_normal().string();
    if (dataset.path.size() > 1 && dataset.path.back() == '/') {
        dataset.path.pop_back();
    }
    for (const SplitShare& split : splits) {
        dataset.splits.push_back(split.name);
    }
    if (dataset.splits.empty()) {
        dataset.splits.push_back("train");
    }
    for (const Category& category : categories) {
        dataset.names.push_back(category.name);
    }
    const fs::path path = fs::path(options_.outDir) / "data.yaml";
    detail::CreateParentFolders(path);
    detail::WriteFileAtomically(path.string(), DataYaml(dataset));
}

}  // namespace annoxml
