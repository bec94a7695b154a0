// Reading the frames of many annotation files on several threads while one consumer takes them in
// input order: the engine of every frame-based export, for the tool and the Python package alike.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "annoxml/dataset.h"
#include "annoxml/export.h"
#include "annoxml/frame.h"

namespace annoxml {

// One input file, read or not, as the consumer receives it.
struct FrameItem {
    // Into the list of sources, or, with a stream of sources, the item's own.
    const FrameSource* source = nullptr;
    std::optional<Frame> frame;  // set when it was read
    std::string error;           // why it was not, without the path
    // With PipelineOptions::collectProblems: every problem found, the frame read as far as it
    // could be; `error` then only tells why the file could not be loaded.
    std::vector<std::string> problems;
    // Whole lines the consumer wants on standard error, written above the progress bar.
    std::string lines;
    // Set by PipelineOptions::prepare, for a data-set writer.
    PreparedAnnotations annotations;
};

struct PipelineOptions {
    unsigned threads = 1;
    bool collectProblems = false;
    // Run on the reading thread for each frame read, for work that needs no other frame; what
    // it throws fails the file.
    std::function<void(FrameItem& item)> prepare;
    // Polled often on every thread; once it returns true, reads under way finish and are
    // delivered, and no new one starts. Unset: the run goes to the end.
    std::function<bool()> stopRequested;
    // Called on the consuming thread after each item, with the number of items done so far and
    // "" or why the item failed (without the path).
    std::function<void(const FrameItem& item, const std::string& failure, std::size_t done)>
        delivered;
};

// Takes each item in input order on the calling thread; returns "" or why the file fails after
// all (the item then counts as failed and is reported like a read failure).
using FrameConsumer = std::function<std::string(FrameItem& item)>;

struct PipelineSummary {
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t notStarted = 0;
    bool stopped = false;  // stopRequested returned true
    double seconds = 0;
};

// Reads every source on `options.threads` threads (the calling one included) and hands the items
// to `consume` in input order, holding at most a few items per thread at a time. Writes nothing
// to the standard streams and installs no signal handler.
ANNOXML_API PipelineSummary RunFramePipeline(const std::vector<FrameSource>& sources,
                                             const PipelineOptions& options,
                                             const FrameConsumer& consume);
// The same with the sources taken from `sources` as the reads go, so that a study is never
// listed whole (see FrameSourceWalk). Each item then holds its source until it is delivered; a
// run that stops counts as not started what sources.Count() holds beyond the items delivered.
ANNOXML_API PipelineSummary RunFramePipeline(FrameSourceStream& sources,
                                             const PipelineOptions& options,
                                             const FrameConsumer& consume);

// Admits the item's frame to `catalog` and calls use(admitted) with it; the frame then goes back
// into the item, so that the thread that read it frees it. What Admit or `use` throws passes on.
template <typename Use>
void UseAdmitted(DatasetCatalog& catalog, FrameItem& item, Use use) {
    DatasetFrame admitted = catalog.Admit(std::move(*item.frame), *item.source);
    use(std::as_const(admitted));
    item.frame = std::move(admitted.frame);
}

// Costly work that the in-order consumer of a frame pipeline hands to other threads.
class ANNOXML_API BackgroundTasks {
  public:
    // Called on the worker with a task's source and why it failed.
    using FailureReport = std::function<void(const std::string& source, const std::string& error)>;

    // `threads` workers; Post waits while 2 tasks per worker are waiting, so that memory stays
    // bounded whatever the number of frames.
    BackgroundTasks(unsigned threads, FailureReport failed);
    ~BackgroundTasks();
    BackgroundTasks(const BackgroundTasks&) = delete;
    BackgroundTasks& operator=(const BackgroundTasks&) = delete;

    // Runs `task` on a worker. When it throws, the failure is reported and the task counts as
    // failed.
    void Post(std::string source, std::function<void()> task);

    // Waits until every task posted has run; returns how many failed since the last Finish.
    std::size_t Finish();

  private:
    struct Task {
        std::string source;
        std::function<void()> run;
    };

    void Work();

    std::size_t capacity_;
    FailureReport failedReport_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> waiting_;
    std::size_t running_ = 0;
    std::size_t failed_ = 0;
    bool closing_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace annoxml
