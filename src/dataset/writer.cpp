#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "annoxml/dataset.h"
#include "platform/platform.h"
#include "util/atomic_file.h"
#include "util/json_writer.h"

namespace annoxml {
namespace {

using detail::JsonWriter;

// Line breaks and padding between the entries of the document's top-level arrays, as the JSON
// library's dump(indent) places them.
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

  private:
    int indent_;
};

// Entries stand two levels deep: in the top-level object's "images" or "annotations" array.
constexpr int kEntryDepth = 2;

// Coordinates, areas and boxes in their shortest round-trip form: no training tool needs the
// per-file conversion's bytes, and formatting them was most of a data set's cost above parsing.
constexpr detail::NumberForm kDatasetNumbers = detail::NumberForm::Shortest;

void WriteImage(JsonWriter& out, const DatasetFrame& frame, int id) {
    out.BeginObject();
    out.Key("id");
    out.Integer(id);
    out.Key("file_name");
    out.String(frame.fileName);
    out.Key("width");
    out.Integer(frame.frame.width);
    out.Key("height");
    out.Integer(frame.frame.height);
    out.Key("date_captured");
    out.String(frame.frame.captured);
    out.EndObject();
}

// An annotation's first members: its ids, which depend on where it stands in the data set.
void WriteAnnotationIds(JsonWriter& out, int id, int imageId, int categoryId) {
    out.BeginObject();
    out.Key("id");
    out.Integer(id);
    out.Key("image_id");
    out.Integer(imageId);
    out.Key("category_id");
    out.Integer(categoryId);
}

// The rest of an annotation, which depends on the region alone.
void WriteAnnotationBody(JsonWriter& out, const Region& region) {
    out.Key("segmentation");
    out.BeginArray();
    out.BeginArray();
    double coordinates[64];
    std::size_t count = 0;
    for (const Point& point : region.outline) {
        coordinates[count++] = point.x;
        coordinates[count++] = point.y;
        if (count == std::size(coordinates)) {
            out.Numbers(coordinates, count);
            count = 0;
        }
    }
    out.Numbers(coordinates, count);
    out.EndArray();
    out.EndArray();
    out.Key("area");
    out.Number(region.area);
    out.Key("bbox");
    out.BeginArray();
    const double box[] = {region.box.x, region.box.y, region.box.width, region.box.height};
    out.Numbers(box, std::size(box));
    out.EndArray();
    out.Key("iscrowd");
    out.Integer(0);
    out.Key("attributes");
    out.BeginObject();
    out.Key("kind");
    out.String(KindName(region.kind));
    out.Key("index");
    out.String(region.index);
    if (region.mask) {
        out.Key("mask");
        out.String(*region.mask);
    }
    out.Key("description");
    out.String(region.description);
    out.EndObject();
    out.EndObject();
}

void WriteCategories(JsonWriter& out, const std::vector<Category>& categories) {
    out.BeginArray();
    for (const Category& category : categories) {
        out.BeginObject();
        out.Key("id");
        out.Integer(category.id);
        out.Key("name");
        out.String(category.name);
        out.Key("supercategory");
        out.String(category.supercategory);
        out.EndObject();
    }
    out.EndArray();
}

// Memory for annotations that wait, shared by the files of all splits; past it they wait in
// temporary files, so that memory does not grow with the data set. Small: peak memory is to be
// much the same for a study of a million frames as for one of a quarter of that.
constexpr std::size_t kSpoolMemory = std::size_t{2} << 20;
constexpr std::size_t kSpoolFileBuffer = std::size_t{256} << 10;

}  // namespace

namespace detail {

// Annotations wait until the images are complete: the first megabytes in memory, which spares
// small data sets a temporary file, the rest in an unnamed temporary file. Not in the anonymous
// namespace: DatasetWriter::SplitFile, a member of a public class, holds one.
class AnnotationSpool {
  public:
    // `memoryLeft` is shared by the spools of one writer.
    explicit AnnotationSpool(std::shared_ptr<std::size_t> memoryLeft)
        : memoryLeft_(std::move(memoryLeft)) {}
    ~AnnotationSpool() {
        if (file_) std::fclose(file_);
    }
    AnnotationSpool(const AnnotationSpool&) = delete;
    AnnotationSpool& operator=(const AnnotationSpool&) = delete;

    void Write(const std::string& bytes) {
        if (!file_ && bytes.size() <= *memoryLeft_) {
            // Reserved whole at once: pages that are never written cost nothing, and the text is
            // never copied to grow.
            if (memory_.capacity() < kSpoolMemory) memory_.reserve(kSpoolMemory);
            memory_ += bytes;
            *memoryLeft_ -= bytes.size();
            return;
        }
        if (!file_) {
            file_ = std::tmpfile();
            if (!file_) throw std::runtime_error("Cannot create a temporary file");
            // Written in large pieces: a system call per page costs more than the memory.
            fileBuffer_ = std::make_unique<char[]>(kSpoolFileBuffer);
            std::setvbuf(file_, fileBuffer_.get(), _IOFBF, kSpoolFileBuffer);
        }
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
            throw std::runtime_error("Cannot write a temporary file");
        }
        fileBytes_ += bytes.size();
    }

    void CopyTo(detail::OutputFile& output) {
        output.Write(memory_);
        if (!file_) return;
        if (std::fflush(file_) != 0) throw std::runtime_error("Cannot read a temporary file back");
        // Copied by the system where it can, not through this process's memory.
        if (output.WriteContentOf(file_, fileBytes_)) return;
        if (std::fseek(file_, 0, SEEK_SET) != 0) {
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
    std::shared_ptr<std::size_t> memoryLeft_;
    std::string memory_;
    std::unique_ptr<char[]> fileBuffer_;  // file_'s, closed before it is freed
    std::FILE* file_ = nullptr;
    std::size_t fileBytes_ = 0;
};

}  // namespace detail

namespace {

// One writer per thread, kept from frame to frame: annotations are prepared for every frame, on
// the threads that read them. One that grew large for a large frame is not kept.
struct PreparingWriter {
    static constexpr std::size_t kKeptBytes = std::size_t{1} << 20;

    static JsonWriter& For(int indent) {
        PreparingWriter& kept = Kept();
        if (!kept.writer || kept.indent != indent) {
            kept.writer = std::make_unique<JsonWriter>(indent, kEntryDepth, kDatasetNumbers);
            kept.indent = indent;
        }
        kept.writer->Clear();
        return *kept.writer;
    }

    static void Done() {
        PreparingWriter& kept = Kept();
        if (kept.writer && kept.writer->text().size() > kKeptBytes) kept.writer.reset();
    }

  private:
    static PreparingWriter& Kept() {
        return platform::PerThread<PreparingWriter>([] { return PreparingWriter(); });
    }

    std::unique_ptr<JsonWriter> writer;
    int indent = 0;
};

}  // namespace

PreparedAnnotations::PreparedAnnotations(const Frame& frame, int indent) : indent_(indent) {
    // Each region's annotation with placeholder ids, one after another; the ids, all alike, are
    // then left out.
    JsonWriter& writer = PreparingWriter::For(indent);
    std::size_t idsLength = 0;
    ends_.reserve(frame.regions.size());
    for (const Region& region : frame.regions) {
        // The catalog leaves these out of the admitted frame (the regions prepared must be its).
        if (RegionLeftOut(region, frame.width, frame.height)) continue;
        const std::size_t start = writer.text().size();
        WriteAnnotationIds(writer, 0, 0, 0);
        idsLength = writer.text().size() - start;
        WriteAnnotationBody(writer, region);
        ends_.push_back(writer.text().size());
    }
    const std::string_view text = writer.text();
    bodies_.reserve(text.size() - ends_.size() * idsLength);
    std::size_t start = 0;
    for (std::size_t& end : ends_) {
        bodies_.append(text.substr(start + idsLength, end - start - idsLength));
        start = end;
        end = bodies_.size();
    }
    PreparingWriter::Done();
}

std::size_t PreparedAnnotations::bytes() const {
    return bodies_.capacity() + ends_.capacity() * sizeof(std::size_t);
}

struct DatasetWriter::SplitFile {
    SplitFile(const std::string& path, std::string splitName, int indent,
              std::shared_ptr<std::size_t> spoolMemory)
        : split(std::move(splitName)),
          output(path),
          annotations(std::move(spoolMemory)),
          entryBreak(Layout(indent).Break(kEntryDepth)),
          image(indent, kEntryDepth),
          annotation(indent, kEntryDepth) {
        const Layout layout(indent);
        JsonWriter info(indent, 1);
        info.BeginObject();
        info.Key("description");
        info.String("Endoscopy annotation data set");
        info.Key("version");
        info.String("1.0");
        info.EndObject();
        output.Write("{" + layout.Break(1) + layout.Key("info"));
        output.Write(info.text());
        output.Write("," + layout.Break(1) + layout.Key("licenses") + "[]," + layout.Break(1) +
                     layout.Key("images") + "[");
    }

    std::string split;
    detail::OutputFile output;
    detail::AnnotationSpool annotations;
    int images = 0;
    int annotationCount = 0;
    const std::string entryBreak;  // before each entry, after its separator
    // Reused for every entry, so that adding a frame allocates nothing once they are large
    // enough.
    JsonWriter image;
    JsonWriter annotation;
    std::string annotationText;
};

std::string SplitPath(const std::string& path, const std::string& split) {
    std::filesystem::path result = std::filesystem::u8path(path);
    const std::string extension = result.extension().string();
    result.replace_filename(result.stem().string() + "_" + split + extension);
    return result.string();
}

DatasetWriter::DatasetWriter(const std::string& path, const DatasetCatalog& catalog, int indent)
    : catalog_(catalog), indent_(indent), path_(path) {
    // Named here, as given, rather than through the first split file that cannot be opened.
    const std::filesystem::path folder = std::filesystem::u8path(path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
        throw std::runtime_error("Cannot write " + path + ": no folder " + folder.string());
    }
    const std::vector<SplitShare>& splits = catalog.options().splits;
    const auto spoolMemory = std::make_shared<std::size_t>(kSpoolMemory);
    if (splits.empty()) {
        files_.push_back(std::make_unique<SplitFile>(path, "", indent_, spoolMemory));
    }
    for (const SplitShare& split : splits) {
        files_.push_back(std::make_unique<SplitFile>(SplitPath(path, split.name), split.name,
                                                     indent_, spoolMemory));
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
    Add(frame, PreparedAnnotations(frame.frame, indent_));
}

void DatasetWriter::Add(const DatasetFrame& frame, const PreparedAnnotations& annotations) {
    const std::vector<Region>& regions = frame.frame.regions;
    const bool sameIndent =
        annotations.indent_ == indent_ || (annotations.indent_ < 0 && indent_ < 0);
    if (!sameIndent || annotations.ends_.size() != regions.size()) {
        throw std::invalid_argument("annotations prepared for another frame or indent");
    }
    SplitFile& file = FileFor(frame.split);
    const int imageId = file.images + 1;
    // Everything is formatted before anything is written, so a failure leaves no half entry.
    file.annotationText.clear();
    std::size_t bodyStart = 0;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const int id = file.annotationCount + static_cast<int>(i) + 1;
        file.annotation.Clear();
        WriteAnnotationIds(file.annotation, id, imageId, frame.categoryIds.at(i));
        if (id != 1) file.annotationText += ',';
        file.annotationText += file.entryBreak;
        file.annotationText += file.annotation.text();
        const std::size_t bodyEnd = annotations.ends_[i];
        file.annotationText.append(annotations.bodies_, bodyStart, bodyEnd - bodyStart);
        bodyStart = bodyEnd;
    }
    file.image.Clear();
    WriteImage(file.image, frame, imageId);
    if (imageId != 1) file.output.Write(",");
    file.output.Write(file.entryBreak);
    file.output.Write(file.image.text());
    file.annotations.Write(file.annotationText);
    file.images = imageId;
    file.annotationCount += static_cast<int>(frame.frame.regions.size());
}

void DatasetWriter::Commit() {
    const Layout layout(indent_);
    JsonWriter categories(indent_, 1);
    WriteCategories(categories, catalog_.categories());
    for (const std::unique_ptr<SplitFile>& file : files_) {
        file->output.Write((file->images == 0 ? "" : layout.Break(1)) + "]," + layout.Break(1) +
                           layout.Key("annotations") + "[");
        file->annotations.CopyTo(file->output);
        file->output.Write((file->annotationCount == 0 ? "" : layout.Break(1)) + "]," +
                           layout.Break(1) + layout.Key("categories"));
        file->output.Write(categories.text());
        file->output.Write(layout.Break(0) + "}\n");
    }
    for (const std::unique_ptr<SplitFile>& file : files_) {
        file->output.Commit();
    }
}

std::vector<std::string> DatasetWriter::StaleFiles() const {
    namespace fs = std::filesystem;
    const fs::path path = fs::u8path(path_);
    const std::string stem = path.stem().string();
    const std::string extension = path.extension().string();
    std::vector<std::string> written;
    for (const std::unique_ptr<SplitFile>& file : files_) {
        written.push_back(fs::u8path(file->output.path()).filename().string());
    }
    std::vector<std::string> stale;
    std::error_code error;
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const bool sameStem =
            name == stem + extension ||
            (name.size() > stem.size() + 1 + extension.size() &&
             name.compare(0, stem.size() + 1, stem + "_") == 0 &&
             name.compare(name.size() - extension.size(), extension.size(), extension) == 0);
        if (sameStem && std::find(written.begin(), written.end(), name) == written.end()) {
            stale.push_back((path.parent_path() / fs::u8path(name)).generic_string());
        }
    }
    std::sort(stale.begin(), stale.end());
    return stale;
}

std::vector<DatasetWriter::FileSummary> DatasetWriter::files() const {
    std::vector<FileSummary> result;
    for (const std::unique_ptr<SplitFile>& file : files_) {
        result.push_back({file->output.path(), file->split, file->images, file->annotationCount});
    }
    return result;
}

}  // namespace annoxml
