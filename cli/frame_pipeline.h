// What every frame-based subcommand shares: the common options, and reading the frames of the
// inputs on several threads while one consumer takes them in input order.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "annoxml/dataset.h"
#include "annoxml/frame.h"
#include "annoxml/pipeline.h"
#include "annoxml/study.h"
#include "batch_run.h"
#include "console.h"
#include "stop_signals.h"

namespace annoxml::cli {

struct FrameOptions {
    std::vector<std::string> inputs;
    std::vector<std::string> renames;  // OLD=NEW
    std::string categoriesFile;
    std::string splits;  // train=0.8,val=0.1,test=0.1
    std::uint64_t seed = 0;
    std::string groupBy = "file";
    unsigned threads = 1;
    bool quiet = false;
    // The catalog options checked and converted, set when the command line is parsed.
    DatasetOptions dataset;
};

// Registers INPUT..., -j and -q on `command`.
void AddInputOptions(CLI::App& command, FrameOptions& options);
// Registers --rename, --categories, --split, --seed and --group-by on `command`, and fills
// `options.dataset` from them once the command line is parsed (through the command's
// parse_complete_callback: a bad value is a usage error).
void AddCatalogOptions(CLI::App& command, FrameOptions& options);
// Both.
void AddFrameOptions(CLI::App& command, FrameOptions& options);

// The catalog options as the library takes them. Throws CLI::ValidationError naming the option
// with a bad value (a --categories file that cannot be read or parsed included).
DatasetOptions ToDatasetOptions(const FrameOptions& options);

// The library's pipeline items and consumers, by the names the subcommands use.
using annoxml::FrameConsumer;
using annoxml::FrameItem;

// How a subcommand runs the pipeline: the library's options, and how the tool reports.
struct PipelineOptions {
    unsigned threads = 1;
    bool progressBar = false;
    // Write "annoxml: PATH: MESSAGE" for each failure. Off for consumers that report their own.
    bool reportFailures = true;
    bool collectProblems = false;
    // Run on the reading thread for each frame read, for work that needs no other frame; what
    // it throws fails the file.
    std::function<void(FrameItem& item)> prepare;
};

// Reads every source on `threads` threads and hands the items to `consume` in input order,
// holding at most a few items per thread at a time. SIGINT and SIGTERM stop it: reads under
// way finish and are delivered, no new one starts. The summary counts files, as `convert` does.
BatchSummary RunFramePipeline(const std::vector<FrameSource>& sources,
                              const PipelineOptions& options, const FrameConsumer& consume);

// The standard run of a frame-based subcommand: lists the inputs (a folder that cannot be listed
// is reported and counts as a failed file) and runs the pipeline with the options' -j and -q.
// `pipeline` gives reportFailures and collectProblems; its threads and progressBar come from
// the options.
BatchSummary RunFrames(const FrameOptions& options, const FrameConsumer& consume,
                       PipelineOptions pipeline = {});

using annoxml::UseAdmitted;

// How the tool reports a library run of a whole study: SIGINT and SIGTERM stop it once the inputs
// are listed, a progress bar, and one "annoxml: PATH: MESSAGE" line per failure.
class StudyReporting {
  public:
    explicit StudyReporting(const FrameOptions& options) : options_(options) {}

    // The run of the options' inputs and threads with `dataset`, reporting through this object,
    // which must outlive it.
    annoxml::StudyRun Run(const DatasetOptions& dataset);
    // Removes the progress bar and returns the run's summary as the tool counts it.
    BatchSummary Summary(const annoxml::StudySummary& result);

  private:
    const FrameOptions& options_;
    std::optional<StopOnSignals> stopOnSignals_;
    std::optional<ProgressBar> bar_;
};

// Prints the summary line unless quiet and returns the exit status, as `convert` does.
int FinishRun(const BatchSummary& summary, bool quiet);

}  // namespace annoxml::cli
