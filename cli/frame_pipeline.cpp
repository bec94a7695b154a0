#include "frame_pipeline.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "console.h"
#include "stop_signals.h"

namespace annoxml::cli {
namespace {

// The library's parsers, their errors as usage errors of `option`.
template <typename Parse>
auto ParsedOption(const std::string& option, Parse parse) {
    try {
        return parse();
    } catch (const std::invalid_argument& error) {
        throw CLI::ValidationError(option, error.what());
    }
}

std::vector<Category> ReadCategories(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) {
        throw CLI::ValidationError("--categories", path + ": cannot be read");
    }
    try {
        return ParseCategoryList({std::istreambuf_iterator<char>(in), {}});
    } catch (const std::runtime_error& error) {
        throw CLI::ValidationError("--categories", path + ": " + error.what());
    }
}

}  // namespace

void AddInputOptions(CLI::App& command, FrameOptions& options) {
    options.threads = std::max(1u, std::thread::hardware_concurrency());
    command
        .add_option("INPUT", options.inputs,
                    "Annotation files, folders to search for *.xml (sorted by path), or - for "
                    "standard input")
        ->required();
    command
        .add_option("-j,--jobs", options.threads,
                    "Files read at the same time (default: the machine's hardware threads)")
        ->check(CLI::Range(1u, 1024u));
    command.add_flag("-q,--quiet", options.quiet,
                     "Print only failures: no progress bar, no summary");
}

void AddCatalogOptions(CLI::App& command, FrameOptions& options) {
    command.add_option("--rename", options.renames,
                       "OLD=NEW: read the label OLD as NEW, so that spelling variants merge "
                       "(repeatable)");
    command.add_option("--categories", options.categoriesFile,
                       "JSON file with the category list [{\"id\", \"name\", \"supercategory\"}]; "
                       "its ids are kept, and a shape with another label fails its file");
    command.add_option("--split", options.splits,
                       "Shares of named splits, e.g. train=0.8,val=0.1,test=0.1; each frame is "
                       "assigned by a stable hash, so adding frames never moves others");
    command.add_option("--seed", options.seed, "Seed of the split assignment")
        ->capture_default_str();
    command
        .add_option("--group-by", options.groupBy,
                    "Assign splits per file, or per folder (one video or patient stays in one "
                    "split)")
        ->check(CLI::IsMember({"file", "folder"}))
        ->capture_default_str();
    command.parse_complete_callback([&options] { options.dataset = ToDatasetOptions(options); });
}

void AddFrameOptions(CLI::App& command, FrameOptions& options) {
    AddInputOptions(command, options);
    AddCatalogOptions(command, options);
}

DatasetOptions ToDatasetOptions(const FrameOptions& options) {
    DatasetOptions result;
    result.renames = ParsedOption("--rename", [&] { return ParseRenames(options.renames); });
    if (!options.categoriesFile.empty()) {
        result.categories = ReadCategories(options.categoriesFile);
    }
    result.splits = ParsedOption("--split", [&] { return ParseSplits(options.splits); });
    result.seed = options.seed;
    result.groupBy = options.groupBy == "folder" ? GroupBy::Folder : GroupBy::File;
    return result;
}

BatchSummary RunFramePipeline(const std::vector<FrameSource>& sources,
                              const PipelineOptions& options, const FrameConsumer& consume) {
    const StopOnSignals stopOnSignals;
    ProgressBar bar(sources.size(), options.progressBar);
    annoxml::PipelineOptions library;
    library.threads = options.threads;
    library.collectProblems = options.collectProblems;
    library.prepare = options.prepare;
    library.stopRequested = [] { return StopSignal() != 0; };
    library.delivered = [&](const FrameItem& item, const std::string& error, std::size_t done) {
        const bool report = !error.empty() && options.reportFailures;
        bar.Report(
            (report ? "annoxml: " + item.source->path + ": " + error + "\n" : "") + item.lines,
            done);
    };
    const PipelineSummary run = annoxml::RunFramePipeline(sources, library, consume);
    bar.Clear();
    BatchSummary summary;
    summary.converted = run.converted;
    summary.failed = run.failed;
    summary.notStarted = run.notStarted;
    summary.stopSignal = StopSignal();
    summary.seconds = run.seconds;
    return summary;
}

BatchSummary RunFrames(const FrameOptions& options, const FrameConsumer& consume,
                       PipelineOptions pipeline) {
    std::size_t unlisted = 0;
    const std::vector<FrameSource> sources =
        ListInputs(options.inputs, [&unlisted](const std::string& message) {
            WriteError("annoxml: " + message + "\n");
            ++unlisted;
        });
    pipeline.threads = options.threads;
    pipeline.progressBar = !options.quiet && sources.size() > 1 && StderrIsTerminal();
    BatchSummary summary = RunFramePipeline(sources, pipeline, consume);
    summary.failed += unlisted;
    return summary;
}

annoxml::StudyRun StudyReporting::Run(const DatasetOptions& dataset) {
    annoxml::StudyRun run;
    run.inputs = options_.inputs;
    run.dataset = dataset;
    run.threads = options_.threads;
    run.stopRequested = [] { return StopSignal() != 0; };
    run.listed = [this](std::size_t files) {
        stopOnSignals_.emplace();
        bar_.emplace(files, !options_.quiet && files > 1 && StderrIsTerminal());
    };
    run.unlisted = [](const std::string& message) { WriteError("annoxml: " + message + "\n"); };
    run.delivered = [this](const FrameItem& item, const std::string& error, std::size_t done) {
        bar_->Report((error.empty() ? "" : "annoxml: " + item.source->path + ": " + error + "\n") +
                         item.lines,
                     done);
    };
    run.failedLater = [](const std::string& path, const std::string& error) {
        WriteError("annoxml: " + path + ": " + error + "\n");
    };
    return run;
}

BatchSummary StudyReporting::Summary(const annoxml::StudySummary& result) {
    if (bar_) bar_->Clear();
    BatchSummary summary;
    summary.converted = result.converted;
    summary.failed = result.failed;
    summary.notStarted = result.notStarted;
    summary.stopSignal = result.stopped ? StopSignal() : 0;
    summary.seconds = result.seconds;
    return summary;
}

int FinishRun(const BatchSummary& summary, bool quiet) {
    if (!quiet) {
        WriteError(SummaryLine(summary));
    }
    return ExitStatus(summary);
}

}  // namespace annoxml::cli
