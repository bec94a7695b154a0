#include "annoxml_dataset_native.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "annoxml/check.h"
#include "annoxml/dataset.h"
#include "annoxml/masks.h"
#include "annoxml/study.h"
#include "annoxml/yolo.h"

using annoxml::CheckFinding;
using annoxml::Severity;

// The handles are these structures themselves.
struct annoxml_study {
    std::vector<std::string> inputs;
    annoxml::DatasetOptions dataset;
    std::optional<nlohmann::json> categories;  // a category list as ParseCategoryList reads it
    unsigned threads = 0;
    bool keepGoing = false;
    annoxml_progress_callback progress = nullptr;
    void* progressContext = nullptr;
    std::atomic<bool> cancelled{false};
};

struct annoxml_study_result {
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t errors = 0;
    std::size_t warnings = 0;
    std::vector<CheckFinding> findings;
};

namespace {

// A failure that concerns one file (or "" for none).
class FileFailure : public std::runtime_error {
  public:
    FileFailure(std::string file, const std::string& message)
        : std::runtime_error(message), file_(std::move(file)) {}
    const std::string& file() const { return file_; }

  private:
    std::string file_;
};

class Cancelled : public std::exception {
  public:
    const char* what() const noexcept override { return "cancelled"; }
};

// An owned copy of `text` for the caller, NULL when memory is short.
char* CopyText(const std::string& text) noexcept {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

annoxml_status Fail(annoxml_status status, const std::string& file, const char* message,
                    char** error_file, char** error_message) noexcept {
    if (error_file != nullptr) *error_file = CopyText(file);
    if (error_message != nullptr) *error_message = CopyText(message);
    return status;
}

// Runs `call`, turning every exception into its kind, file and message.
template <typename Call>
annoxml_status Guard(char** error_file, char** error_message, Call&& call) noexcept {
    if (error_file != nullptr) *error_file = nullptr;
    if (error_message != nullptr) *error_message = nullptr;
    try {
        call();
        return ANNOXML_OK;
    } catch (const FileFailure& error) {
        return Fail(ANNOXML_RUNTIME_ERROR, error.file(), error.what(), error_file, error_message);
    } catch (const Cancelled& error) {
        return Fail(ANNOXML_CANCELLED, "", error.what(), error_file, error_message);
    } catch (const std::invalid_argument& error) {
        return Fail(ANNOXML_INVALID_ARGUMENT, "", error.what(), error_file, error_message);
    } catch (const std::out_of_range& error) {
        return Fail(ANNOXML_OUT_OF_RANGE, "", error.what(), error_file, error_message);
    } catch (const std::runtime_error& error) {
        return Fail(ANNOXML_RUNTIME_ERROR, "", error.what(), error_file, error_message);
    } catch (const std::exception& error) {
        return Fail(ANNOXML_OTHER_ERROR, "", error.what(), error_file, error_message);
    } catch (...) {
        return Fail(ANNOXML_OTHER_ERROR, "", "unknown exception", error_file, error_message);
    }
}

annoxml_status GuardSetter(char** error_message, const std::function<void()>& call) noexcept {
    return Guard(nullptr, error_message, call);
}

std::string Text(const char* data, std::size_t size, const char* what) {
    if (data == nullptr && size != 0) {
        throw std::invalid_argument(std::string("annoxml: ") + what + " is NULL");
    }
    return data == nullptr ? std::string() : std::string(data, size);
}

annoxml_study& Study(annoxml_study* study) {
    if (study == nullptr) throw std::invalid_argument("annoxml: the study argument is NULL");
    return *study;
}

// One run of a study: the library's StudyRun wired to the study's progress callback and
// cancellation, and the failures met on the way.
class Run {
  public:
    // `failuresStop`: a failed file (delivered with its failure) is a failure of the run.
    Run(annoxml_study& study, bool failuresStop) : study_(study), failuresStop_(failuresStop) {}

    annoxml::StudyRun Make() {
        annoxml::StudyRun run;
        run.inputs = study_.inputs;
        run.dataset = study_.dataset;
        if (study_.categories) {
            run.dataset.categories = annoxml::ParseCategoryList(study_.categories->dump());
        }
        run.threads = study_.threads != 0 ? study_.threads
                                          : std::max(1u, std::thread::hardware_concurrency());
        run.stopRequested = [this] {
            return study_.cancelled.load() || (!study_.keepGoing && failedFlag_.load());
        };
        run.listed = [this](std::size_t files) {
            total_ = files;
            if (study_.progress) study_.progress(study_.progressContext, 0, files);
        };
        run.unlisted = [this](const std::string& message) { Failed("", message); };
        run.delivered = [this](const annoxml::FrameItem& item, const std::string& failure,
                               std::size_t done) {
            if (failuresStop_ && !failure.empty()) Failed(item.source->path, failure);
            if (study_.progress) study_.progress(study_.progressContext, done, total_);
        };
        run.failedLater = [this](const std::string& path, const std::string& failure) {
            Failed(path, failure);
        };
        return run;
    }

    // The result of a finished run; throws the first failure when the study does not keep going,
    // Cancelled when the run was stopped, and the reason why the output could not be completed
    // as a failure of `output`.
    std::unique_ptr<annoxml_study_result> Finish(const annoxml::StudySummary& summary,
                                                 const std::string& output) {
        if (!study_.keepGoing && !failures_.empty()) {
            throw FileFailure(failures_.front().path, failures_.front().message);
        }
        if (summary.stopped) throw Cancelled();
        if (!summary.writeError.empty()) throw FileFailure(output, summary.writeError);
        auto result = std::make_unique<annoxml_study_result>();
        result->converted = summary.converted;
        result->failed = summary.failed;
        result->findings = std::move(failures_);
        return result;
    }

  private:
    void Failed(const std::string& file, const std::string& message) {
        const std::lock_guard<std::mutex> lock(mutex_);
        failures_.push_back({file, Severity::Error, message});
        failedFlag_ = true;
    }

    annoxml_study& study_;
    const bool failuresStop_;
    std::size_t total_ = 0;
    std::mutex mutex_;
    std::vector<CheckFinding> failures_;
    std::atomic<bool> failedFlag_{false};
};

// Runs `exportRun` (an export of the whole study) and hands its result out.
template <typename Export>
annoxml_status RunExport(annoxml_study* study, const std::string& output,
                         annoxml_study_result** result, char** error_file, char** error_message,
                         Export exportRun) noexcept {
    if (result != nullptr) *result = nullptr;
    return Guard(error_file, error_message, [&] {
        if (result == nullptr) throw std::invalid_argument("annoxml: the result argument is NULL");
        Run run(Study(study), true);
        const annoxml::StudyRun made = run.Make();
        annoxml::StudySummary summary;
        try {
            summary = exportRun(made);
        } catch (const std::runtime_error& error) {
            // The output cannot be opened or replaced; nothing was read.
            throw FileFailure(output, error.what());
        }
        *result = run.Finish(summary, output).release();
    });
}

std::vector<std::string> Labels(const char* labels, const size_t* sizes, std::size_t count) {
    std::vector<std::string> names;
    if (count != 0 && sizes == nullptr) {
        throw std::invalid_argument("annoxml: label_sizes is NULL");
    }
    std::size_t offset = 0;
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back(Text(sizes[i] != 0 ? labels + offset : nullptr, sizes[i], "labels"));
        offset += sizes[i];
    }
    return names;
}

}  // namespace

extern "C" {

annoxml_study* annoxml_study_new(void) { return new (std::nothrow) annoxml_study(); }

void annoxml_study_free(annoxml_study* study) { delete study; }

annoxml_status annoxml_study_add_input(annoxml_study* study, const char* path, size_t path_size,
                                       char** error_message) {
    return GuardSetter(error_message, [&] {
        if (path == nullptr) throw std::invalid_argument("annoxml: a path argument is NULL");
        Study(study).inputs.emplace_back(path, path_size);
    });
}

annoxml_status annoxml_study_add_rename(annoxml_study* study, const char* old_name, size_t old_size,
                                        const char* new_name, size_t new_size,
                                        char** error_message) {
    return GuardSetter(error_message, [&] {
        std::string from = Text(old_name, old_size, "old_name");
        std::string to = Text(new_name, new_size, "new_name");
        if (from.empty()) annoxml::ParseRenames({"=" + to});  // throws the tool's message
        Study(study).dataset.renames.emplace_back(std::move(from), std::move(to));
    });
}

annoxml_status annoxml_study_add_category(annoxml_study* study, int id, const char* name,
                                          size_t name_size, const char* supercategory,
                                          size_t supercategory_size, char** error_message) {
    return GuardSetter(error_message, [&] {
        annoxml_study& target = Study(study);
        nlohmann::json category = {{"id", id}, {"name", Text(name, name_size, "name")}};
        if (supercategory != nullptr) {
            category["supercategory"] = Text(supercategory, supercategory_size, "supercategory");
        }
        if (!target.categories) target.categories = nlohmann::json::array();
        target.categories->push_back(std::move(category));
    });
}

annoxml_status annoxml_study_set_splits(annoxml_study* study, const char* text, size_t text_size,
                                        char** error_message) {
    return GuardSetter(error_message, [&] {
        Study(study).dataset.splits = annoxml::ParseSplits(Text(text, text_size, "text"));
    });
}

void annoxml_study_set_seed(annoxml_study* study, uint64_t seed) {
    if (study != nullptr) study->dataset.seed = seed;
}

void annoxml_study_set_group_by_folder(annoxml_study* study, int by_folder) {
    if (study != nullptr) {
        study->dataset.groupBy = by_folder != 0 ? annoxml::GroupBy::Folder : annoxml::GroupBy::File;
    }
}

void annoxml_study_set_threads(annoxml_study* study, unsigned threads) {
    if (study != nullptr) study->threads = std::min(threads, 1024u);
}

void annoxml_study_set_keep_going(annoxml_study* study, int keep_going) {
    if (study != nullptr) study->keepGoing = keep_going != 0;
}

void annoxml_study_set_progress(annoxml_study* study, annoxml_progress_callback callback,
                                void* context) {
    if (study != nullptr) {
        study->progress = callback;
        study->progressContext = context;
    }
}

void annoxml_study_cancel(annoxml_study* study) {
    if (study != nullptr) study->cancelled = true;
}

annoxml_status annoxml_WriteDataset(annoxml_study* study, const char* output, size_t output_size,
                                    int indent, annoxml_study_result** result, char** error_file,
                                    char** error_message) {
    const std::string path = output != nullptr ? std::string(output, output_size) : "";
    return RunExport(study, path, result, error_file, error_message,
                     [&](const annoxml::StudyRun& run) -> annoxml::StudySummary {
                         if (output == nullptr) {
                             throw std::invalid_argument("annoxml: a path argument is NULL");
                         }
                         // A failed file stops the run unless the study keeps going; strict is
                         // the same rule for the output once the run is read.
                         return annoxml::ExportDataset(run, path, std::max(indent, -1),
                                                       !study->keepGoing);
                     });
}

annoxml_status annoxml_WriteMasks(annoxml_study* study, const char* out_dir, size_t out_dir_size,
                                  int mode, const char* labels, const size_t* label_sizes,
                                  size_t label_count, int force, annoxml_study_result** result,
                                  char** error_file, char** error_message) {
    const std::string path = out_dir != nullptr ? std::string(out_dir, out_dir_size) : "";
    return RunExport(study, path, result, error_file, error_message,
                     [&](const annoxml::StudyRun& run) -> annoxml::StudySummary {
                         if (out_dir == nullptr) {
                             throw std::invalid_argument("annoxml: a path argument is NULL");
                         }
                         static const annoxml::MaskMode modes[] = {annoxml::MaskMode::Binary,
                                                                   annoxml::MaskMode::Category,
                                                                   annoxml::MaskMode::Instance};
                         if (mode < 0 || mode > 2) {
                             throw std::invalid_argument("annoxml: mask mode " +
                                                         std::to_string(mode) +
                                                         " is not 0, 1 or 2");
                         }
                         annoxml::MaskSetWriter::Options options;
                         options.outDir = path;
                         options.mode = modes[mode];
                         options.labels = Labels(labels, label_sizes, label_count);
                         options.force = force != 0;
                         return annoxml::ExportMasks(run, options);
                     });
}

annoxml_status annoxml_WriteYolo(annoxml_study* study, const char* out_dir, size_t out_dir_size,
                                 int task, const char* images_dir, size_t images_dir_size,
                                 int copy_images, int force, annoxml_study_result** result,
                                 char** error_file, char** error_message) {
    const std::string path = out_dir != nullptr ? std::string(out_dir, out_dir_size) : "";
    return RunExport(study, path, result, error_file, error_message,
                     [&](const annoxml::StudyRun& run) -> annoxml::StudySummary {
                         if (out_dir == nullptr) {
                             throw std::invalid_argument("annoxml: a path argument is NULL");
                         }
                         if (task != 0 && task != 1) {
                             throw std::invalid_argument("annoxml: YOLO task " +
                                                         std::to_string(task) + " is not 0 or 1");
                         }
                         annoxml::YoloSetWriter::Options options;
                         options.outDir = path;
                         options.task =
                             task == 0 ? annoxml::YoloTask::Detect : annoxml::YoloTask::Segment;
                         if (images_dir != nullptr) {
                             options.imagesDir = std::string(images_dir, images_dir_size);
                         }
                         options.copyImages = copy_images != 0;
                         options.force = force != 0;
                         return annoxml::ExportYolo(run, options);
                     });
}

annoxml_status annoxml_CheckStudy(annoxml_study* study, annoxml_study_result** result,
                                  char** error_file, char** error_message) {
    if (result != nullptr) *result = nullptr;
    return Guard(error_file, error_message, [&] {
        if (result == nullptr) throw std::invalid_argument("annoxml: the result argument is NULL");
        Run run(Study(study), false);
        std::vector<CheckFinding> findings;
        const annoxml::CheckSummary summary = annoxml::CheckStudy(
            run.Make(), false, [&](annoxml::FrameItem&, const std::vector<CheckFinding>& found) {
                findings.insert(findings.end(), found.begin(), found.end());
            });
        std::unique_ptr<annoxml_study_result> checked = run.Finish(summary, "");
        // Folders that could not be listed (with keep_going) come first, as the tool reports
        // them before reading.
        checked->findings.insert(checked->findings.end(), findings.begin(), findings.end());
        checked->errors = summary.errors;
        checked->warnings = summary.warnings;
        *result = checked.release();
    });
}

void annoxml_study_result_counts(const annoxml_study_result* result, size_t* converted,
                                 size_t* failed, size_t* errors, size_t* warnings) {
    const annoxml_study_result empty;
    const annoxml_study_result& counts = result != nullptr ? *result : empty;
    if (converted != nullptr) *converted = counts.converted;
    if (failed != nullptr) *failed = counts.failed;
    if (errors != nullptr) *errors = counts.errors;
    if (warnings != nullptr) *warnings = counts.warnings;
}

size_t annoxml_study_result_size(const annoxml_study_result* result) {
    return result != nullptr ? result->findings.size() : 0;
}

void annoxml_study_result_finding(const annoxml_study_result* result, size_t index,
                                  const char** file, size_t* file_size, annoxml_severity* severity,
                                  const char** message, size_t* message_size) {
    const bool present = result != nullptr && index < result->findings.size();
    const CheckFinding* finding = present ? &result->findings[index] : nullptr;
    if (file != nullptr) *file = present ? finding->path.c_str() : nullptr;
    if (file_size != nullptr) *file_size = present ? finding->path.size() : 0;
    if (message != nullptr) *message = present ? finding->message.c_str() : nullptr;
    if (message_size != nullptr) *message_size = present ? finding->message.size() : 0;
    if (severity != nullptr) {
        *severity = present && finding->severity == Severity::Warning ? ANNOXML_SEVERITY_WARNING
                                                                      : ANNOXML_SEVERITY_ERROR;
    }
}

void annoxml_study_result_free(annoxml_study_result* result) { delete result; }

}  // extern "C"
