#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <pybind11/stl.h>

#include "annoxml/study.h"
#include "bindings.h"

namespace py = pybind11;

namespace annoxml::python {
namespace {

// Frames read per call into the pipeline while iterating, per thread: enough that the threads'
// start costs nothing, few enough that a large study is never held whole.
constexpr std::size_t kBatchPerThread = 256;

// One input file of a study as iteration yields it.
struct StudyItem {
    std::string path;
    std::string relativePath;
    std::optional<std::string> split;
    std::shared_ptr<Frame> frame;
    std::optional<std::string> error;
    std::vector<int> categoryIds;
    std::string fileName;
    int imageId = 0;
};

[[noreturn]] void RaiseOSError(const std::string& message) {
    PyErr_SetString(PyExc_OSError, message.c_str());
    throw py::error_already_set();
}

class Study;

// One pass over a study: its own catalog, so that ids and splits are those of a run of the tool.
class StudyIterator {
  public:
    explicit StudyIterator(std::shared_ptr<const Study> study);
    StudyItem Next();

  private:
    void ReadBatch();

    std::shared_ptr<const Study> study_;
    DatasetCatalog catalog_;
    std::size_t next_ = 0;
    std::deque<StudyItem> ready_;
    std::map<std::string, int> imagesBySplit_;
};

class Study : public std::enable_shared_from_this<Study> {
  public:
    Study(std::vector<std::string> inputs, DatasetOptions options, unsigned threads)
        : inputs_(std::move(inputs)),
          options_(std::move(options)),
          threads_(threads == 0 ? std::max(1u, std::thread::hardware_concurrency()) : threads) {
        std::string unlisted;
        sources_ = ListInputs(inputs_, [&unlisted](const std::string& message) {
            if (unlisted.empty()) unlisted = message;
        });
        if (!unlisted.empty()) RaiseOSError(unlisted);
    }

    std::size_t size() const { return sources_.size(); }
    const std::vector<FrameSource>& sources() const { return sources_; }
    const DatasetOptions& options() const { return options_; }
    unsigned threads() const { return threads_; }

    // The categories after a whole pass (found once).
    const std::vector<Category>& Categories() {
        if (!categories_) {
            StudyIterator pass(shared_from_this());
            while (!pass.Next().path.empty()) {
            }
        }
        return *categories_;
    }
    void Remember(const std::vector<Category>& categories) const { categories_ = categories; }

    StudyRun Run(std::vector<std::pair<std::string, std::string>>& failures,
                 std::mutex& guard) const {
        StudyRun run;
        run.inputs = inputs_;
        run.dataset = options_;
        run.threads = threads_;
        run.unlisted = [&](const std::string& message) { failures.emplace_back("", message); };
        run.delivered = [&](const FrameItem& item, const std::string& failure, std::size_t) {
            if (failure.empty()) return;
            const std::lock_guard<std::mutex> lock(guard);
            failures.emplace_back(item.source->path, failure);
        };
        run.failedLater = [&](const std::string& path, const std::string& failure) {
            const std::lock_guard<std::mutex> lock(guard);
            failures.emplace_back(path, failure);
        };
        return run;
    }

  private:
    std::vector<std::string> inputs_;
    DatasetOptions options_;
    unsigned threads_;
    std::vector<FrameSource> sources_;
    mutable std::optional<std::vector<Category>> categories_;
};

StudyIterator::StudyIterator(std::shared_ptr<const Study> study)
    : study_(std::move(study)), catalog_(study_->options()) {}

// The next item; an item with an empty path once all are read.
StudyItem StudyIterator::Next() {
    if (ready_.empty() && next_ < study_->size()) {
        py::gil_scoped_release released;
        ReadBatch();
    }
    if (ready_.empty()) {
        study_->Remember(catalog_.categories());
        return {};
    }
    StudyItem item = std::move(ready_.front());
    ready_.pop_front();
    return item;
}

void StudyIterator::ReadBatch() {
    const std::vector<FrameSource>& all = study_->sources();
    const std::size_t end = std::min(all.size(), next_ + kBatchPerThread * study_->threads());
    const std::vector<FrameSource> batch(all.begin() + static_cast<std::ptrdiff_t>(next_),
                                         all.begin() + static_cast<std::ptrdiff_t>(end));
    next_ = end;
    PipelineOptions pipeline;
    pipeline.threads = study_->threads();
    const bool splits = !catalog_.options().splits.empty();
    RunFramePipeline(batch, pipeline, [&](FrameItem& read) {
        StudyItem item;
        item.path = read.source->path;
        item.relativePath = std::string(read.source->relativePath());
        if (read.frame) {
            try {
                DatasetFrame admitted = catalog_.Admit(std::move(*read.frame), *read.source);
                if (splits) item.split = admitted.split;
                item.categoryIds = std::move(admitted.categoryIds);
                item.fileName = std::move(admitted.fileName);
                item.imageId = ++imagesBySplit_[admitted.split];
                item.frame = std::make_shared<Frame>(std::move(admitted.frame));
            } catch (const FrameError& error) {
                item.error = error.detail();
            }
        } else {
            item.error = read.error;
        }
        ready_.push_back(std::move(item));
        return std::string();
    });
}

// What an export returns to the Python layer: counts and the failures, path "" for a folder
// that could not be listed.
py::dict Result(const StudySummary& summary,
                const std::vector<std::pair<std::string, std::string>>& failures) {
    py::dict result;
    result["converted"] = summary.converted;
    result["failed"] = summary.failed;
    result["failures"] = failures;
    if (!summary.writeError.empty()) RaiseOSError(summary.writeError);
    return result;
}

py::dict WriteCoco(const Study& study, const std::string& path, int indent, bool strict) {
    std::vector<std::pair<std::string, std::string>> failures;
    std::mutex guard;
    DatasetExportSummary summary;
    std::string unopened;
    {
        py::gil_scoped_release released;
        try {
            summary = ExportDataset(study.Run(failures, guard), path, indent, strict);
        } catch (const std::runtime_error& error) {
            unopened = error.what();  // the output cannot be opened; nothing was read
        }
    }
    if (!unopened.empty()) RaiseOSError(unopened);
    py::dict result = Result(summary, failures);
    result["written"] = !(strict && summary.failed != 0);
    py::list files;
    for (const DatasetWriter::FileSummary& file : summary.files) {
        files.append(py::make_tuple(file.path, file.split, file.images, file.annotations));
    }
    result["files"] = files;
    return result;
}

py::dict WriteMasks(const Study& study, const std::string& outDir, const std::string& mode,
                    const std::vector<std::string>& labels, bool force) {
    MaskSetWriter::Options options;
    options.outDir = outDir;
    options.force = force;
    try {
        options.mode = ParseMaskMode(mode);
    } catch (const std::invalid_argument&) {
        throw py::value_error("mode: \"" + mode +
                              "\" is not \"binary\", \"category\" or \"instance\"");
    }
    options.labels = labels;
    std::vector<std::pair<std::string, std::string>> failures;
    std::mutex guard;
    MaskExportSummary summary;
    {
        py::gil_scoped_release released;
        summary = ExportMasks(study.Run(failures, guard), options);
    }
    py::dict result = Result(summary, failures);
    result["unknown_labels"] = summary.unknownLabels;
    return result;
}

py::dict WriteYolo(const Study& study, const std::string& outDir, const std::string& task,
                   const std::optional<std::string>& images, bool copyImages, bool force) {
    YoloSetWriter::Options options;
    options.outDir = outDir;
    options.force = force;
    try {
        options.task = ParseYoloTask(task);
    } catch (const std::invalid_argument&) {
        throw py::value_error("task: \"" + task + "\" is not \"detect\" or \"segment\"");
    }
    options.imagesDir = images;
    options.copyImages = copyImages;
    std::vector<std::pair<std::string, std::string>> failures;
    std::mutex guard;
    StudySummary summary;
    {
        py::gil_scoped_release released;
        summary = ExportYolo(study.Run(failures, guard), options);
    }
    return Result(summary, failures);
}

// The catalog options from what the Python layer checked: rename pairs, category list JSON (or
// None), split text, seed and grouping. Bad values raise ValueError naming the option.
DatasetOptions CatalogOptions(const std::vector<std::string>& renames,
                              const std::optional<std::string>& categoriesJson,
                              const std::string& splits, std::uint64_t seed,
                              const std::string& groupBy) {
    DatasetOptions options;
    try {
        options.renames = ParseRenames(renames);
    } catch (const std::invalid_argument& error) {
        throw py::value_error(std::string("rename: ") + error.what());
    }
    if (categoriesJson) {
        try {
            options.categories = ParseCategoryList(*categoriesJson);
        } catch (const std::exception& error) {
            throw py::value_error(std::string("categories: ") + error.what());
        }
    }
    try {
        options.splits = ParseSplits(splits);
    } catch (const std::invalid_argument& error) {
        throw py::value_error(std::string("split: ") + error.what());
    }
    options.seed = seed;
    if (groupBy != "file" && groupBy != "folder") {
        throw py::value_error("group_by: \"" + groupBy + "\" is not \"file\" or \"folder\"");
    }
    options.groupBy = groupBy == "folder" ? GroupBy::Folder : GroupBy::File;
    return options;
}

}  // namespace

void BindStudy(py::module_& module) {
    py::class_<Category>(module, "Category", "A category of a study, as the data set lists it.")
        .def_readonly("id", &Category::id, "The category's id in the data set.")
        .def_readonly("name", &Category::name, "The label name (after renames).")
        .def_readonly("supercategory", &Category::supercategory, "The supercategory, or \"\".")
        .def_readonly("color", &Category::color,
                      "The LabelColor where the name first appeared, \"\" when unknown.")
        .def(py::pickle(
            [](const Category& category) {
                return py::make_tuple(category.id, category.name, category.supercategory,
                                      category.color);
            },
            [](const py::tuple& state) {
                return Category{state[0].cast<int>(), state[1].cast<std::string>(),
                                state[2].cast<std::string>(), state[3].cast<std::string>()};
            }))
        .def("__repr__", [](const Category& category) {
            return "Category(id=" + std::to_string(category.id) +
                   ", name=" + py::repr(py::str(category.name)).cast<std::string>() + ")";
        });
    py::class_<StudyItem>(module, "StudyItem", "One input file of a study, read or not.")
        .def_readonly("path", &StudyItem::path, "The path the file was read from.")
        .def_readonly("relative_path", &StudyItem::relativePath,
                      "The path below the input folder given (the split's group key).")
        .def_readonly("split", &StudyItem::split, "The frame's split, None without splits.")
        .def_readonly("frame", &StudyItem::frame,
                      "The Frame with labels renamed, or None when the file failed.")
        .def_readonly("error", &StudyItem::error,
                      "Why the file failed (without the path), or None.")
        .def_readonly("category_ids", &StudyItem::categoryIds,
                      "One category id per region of the frame.")
        .def_readonly("file_name", &StudyItem::fileName,
                      "The data set's file_name: the relative folder joined with FileName.")
        .def_readonly("image_id", &StudyItem::imageId,
                      "The image id in the data set (or its split's file); 0 when failed.")
        .def(
            "find_image",
            [](const StudyItem& item, const std::string& imagesDir) -> std::optional<std::string> {
                if (!item.frame) return std::nullopt;
                DatasetFrame probe;
                probe.fileName = item.fileName;
                probe.frame.fileName = item.frame->fileName;
                probe.frame.source = item.frame->source;
                return FindFrameImage(probe, imagesDir);
            },
            py::arg("images_dir"),
            "The frame's image: images_dir joined with file_name, then with FileName's last "
            "component, then that name beside the annotation file; None when none exists.")
        .def("__repr__", [](const StudyItem& item) {
            return "StudyItem(path=" + py::repr(py::str(item.path)).cast<std::string>() +
                   (item.error ? ", error=" + py::repr(py::str(*item.error)).cast<std::string>()
                               : "") +
                   ")";
        });
    py::class_<StudyIterator>(module, "StudyIterator", "One pass over a study, in input order.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](StudyIterator& iterator) {
            StudyItem item = iterator.Next();
            if (item.path.empty()) throw py::stop_iteration();
            return item;
        });
    py::class_<Study, std::shared_ptr<Study>>(module, "Study",
                                              "The compiled study; see annoxml.Study.")
        .def(
            py::init([](std::vector<std::string> inputs, const std::vector<std::string>& renames,
                        const std::optional<std::string>& categoriesJson, const std::string& splits,
                        std::uint64_t seed, const std::string& groupBy, unsigned threads) {
                return std::make_shared<Study>(
                    std::move(inputs),
                    CatalogOptions(renames, categoriesJson, splits, seed, groupBy), threads);
            }),
            py::arg("inputs"), py::arg("renames"), py::arg("categories_json"), py::arg("splits"),
            py::arg("seed"), py::arg("group_by"), py::arg("threads"))
        .def("__len__", &Study::size)
        .def("__iter__", [](std::shared_ptr<Study> study) { return StudyIterator(study); })
        .def_property_readonly("categories", &Study::Categories)
        .def("write_coco", &WriteCoco, py::arg("path"), py::arg("indent"), py::arg("strict"))
        .def("write_masks", &WriteMasks, py::arg("out_dir"), py::arg("mode"), py::arg("labels"),
             py::arg("force"))
        .def("write_yolo", &WriteYolo, py::arg("out_dir"), py::arg("task"), py::arg("images"),
             py::arg("copy_images"), py::arg("force"));
}

}  // namespace annoxml::python
