#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "annoxml/dataset.h"
#include "util/atomic_file.h"

namespace annoxml {
namespace {

using Json = nlohmann::ordered_json;

// Where the parts of the document go and how they are spaced: compact, or pretty like the JSON
// library's own dump with `indent` spaces per level.
class Layout {
  public:
    explicit Layout(int indent) : indent_(indent) {}

    // A line break and the padding of `level`; nothing when compact.
    std::string Break(int level) const {
        return indent_ < 0 ? ""
                           : "\n" + std::string(static_cast<std::size_t>(level * indent_), ' ');
    }
    std::string Key(const char* name) const {
        return std::string("\"") + name + (indent_ < 0 ? "\":" : "\": ");
    }
    // A value dumped at nesting `level`.
    std::string Value(const Json& value, int level) const {
        std::string text = value.dump(indent_);
        if (indent_ <= 0) {
            return text;
        }
        const std::string padded = Break(level);
        std::string result;
        result.reserve(text.size() + text.size() / 8);
        for (const char c : text) {
            if (c == '\n') {
                result += padded;
            } else {
                result += c;
            }
        }
        return result;
    }

  private:
    int indent_;
};

Json Flat(const std::vector<Point>& outline) {
    Json flat = Json::array();
    for (const Point& point : outline) {
        flat.push_back(point.x);
        flat.push_back(point.y);
    }
    return flat;
}

Json ImageJson(const DatasetFrame& frame, int id) {
    return Json{{"id", id},
                {"file_name", frame.fileName},
                {"width", frame.frame.width},
                {"height", frame.frame.height},
                {"date_captured", frame.frame.captured}};
}

Json AnnotationJson(const Region& region, int id, int imageId, int categoryId) {
    Json attributes{{"kind", KindName(region.kind)}, {"index", region.index}};
    if (region.mask) {
        attributes["mask"] = *region.mask;
    }
    attributes["description"] = region.description;
    return Json{{"id", id},
                {"image_id", imageId},
                {"category_id", categoryId},
                {"segmentation", Json::array({Flat(region.outline)})},
                {"area", region.area},
                {"bbox", {region.box.x, region.box.y, region.box.width, region.box.height}},
                {"iscrowd", 0},
                {"attributes", std::move(attributes)}};
}

Json CategoriesJson(const std::vector<Category>& categories) {
    Json list = Json::array();
    for (const Category& category : categories) {
        list.push_back({{"id", category.id},
                        {"name", category.name},
                        {"supercategory", category.supercategory}});
    }
    return list;
}

// Annotations wait in an unnamed temporary file until the images are complete.
class Spool {
  public:
    Spool() : file_(std::tmpfile()) {
        if (!file_) {
            throw std::runtime_error("Cannot create a temporary file");
        }
    }
    ~Spool() { std::fclose(file_); }
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    void Write(const std::string& bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
            throw std::runtime_error("Cannot write a temporary file");
        }
    }

    void CopyTo(detail::OutputFile& output) {
        if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
            throw std::runtime_error("Cannot read a temporary file back");
        }
        std::string chunk(1 << 20, '\0');
        while (const std::size_t read = std::fread(chunk.data(), 1, chunk.size(), file_)) {
            output.Write(std::string_view(chunk.data(), read));
        }
        if (std::ferror(file_)) {
            throw std::runtime_error("Cannot read a temporary file back");
        }
    }

  private:
    std::FILE* file_;
};

}  // namespace

struct DatasetWriter::SplitFile {
    SplitFile(const std::string& path, std::string splitName, const Layout& layout)
        : split(std::move(splitName)), output(path) {
        const Json info{{"description", "Endoscopy annotation data set"}, {"version", "1.0"}};
        output.Write("{" + layout.Break(1) + layout.Key("info") + layout.Value(info, 1) + "," +
                     layout.Break(1) + layout.Key("licenses") + "[]," + layout.Break(1) +
                     layout.Key("images") + "[");
    }

    std::string split;
    detail::OutputFile output;
    Spool annotations;
    int images = 0;
    int annotationCount = 0;
};

std::string SplitPath(const std::string& path, const std::string& split) {
    std::filesystem::path result(path);
    const std::string extension = result.extension().string();
    result.replace_filename(result.stem().string() + "_" + split + extension);
    return result.string();
}

DatasetWriter::DatasetWriter(const std::string& path, const DatasetCatalog& catalog, int indent)
    : catalog_(catalog), indent_(indent) {
    const Layout layout(indent_);
    const std::vector<SplitShare>& splits = catalog.options().splits;
    if (splits.empty()) {
        files_.push_back(std::make_unique<SplitFile>(path, "", layout));
    }
    for (const SplitShare& split : splits) {
        files_.push_back(
            std::make_unique<SplitFile>(SplitPath(path, split.name), split.name, layout));
    }
}

DatasetWriter::~DatasetWriter() = default;

DatasetWriter::SplitFile& DatasetWriter::FileFor(const std::string& split) {
    for (const std::unique_ptr<SplitFile>& file : files_) {
        if (file->split == split) {
            return *file;
        }
    }
    throw std::invalid_argument("no split named \"" + split + "\"");
}

void DatasetWriter::Add(const DatasetFrame& frame) {
    SplitFile& file = FileFor(frame.split);
    const Layout layout(indent_);
    const int imageId = file.images + 1;
    // Everything is formatted before anything is written, so a failure leaves no half entry.
    std::string annotations;
    for (std::size_t i = 0; i < frame.frame.regions.size(); ++i) {
        const int id = file.annotationCount + static_cast<int>(i) + 1;
        annotations +=
            (id == 1 ? "" : ",") + layout.Break(2) +
            layout.Value(
                AnnotationJson(frame.frame.regions[i], id, imageId, frame.categoryIds.at(i)), 2);
    }
    const std::string image =
        (imageId == 1 ? "" : ",") + layout.Break(2) + layout.Value(ImageJson(frame, imageId), 2);
    file.output.Write(image);
    file.annotations.Write(annotations);
    file.images = imageId;
    file.annotationCount += static_cast<int>(frame.frame.regions.size());
}

void DatasetWriter::Commit() {
    const Layout layout(indent_);
    const std::string categories = layout.Value(CategoriesJson(catalog_.categories()), 1);
    for (const std::unique_ptr<SplitFile>& file : files_) {
        file->output.Write((file->images == 0 ? "" : layout.Break(1)) + "]," + layout.Break(1) +
                           layout.Key("annotations") + "[");
        file->annotations.CopyTo(file->output);
        file->output.Write((file->annotationCount == 0 ? "" : layout.Break(1)) + "]," +
                           layout.Break(1) + layout.Key("categories") + categories +
                           layout.Break(0) + "}\n");
    }
    for (const std::unique_ptr<SplitFile>& file : files_) {
        file->output.Commit();
    }
}

std::vector<DatasetWriter::FileSummary> DatasetWriter::files() const {
    std::vector<FileSummary> result;
    for (const std::unique_ptr<SplitFile>& file : files_) {
        result.push_back({file->output.path(), file->split, file->images, file->annotationCount});
    }
    return result;
}

}  // namespace annoxml
